#!/usr/bin/env bash
# Draws the programs' icon with ImageMagick and writes the files the builds take from app/icons/:
# iap-tool.png (256 px, the Linux desktop entry and the window), iap-tool-48.png, and iap-tool.ico
# (16 to 256 px, the Windows programs' resource and the installer). The files are kept in the
# repository, so a build needs no ImageMagick; run this again only to change the picture.
# The picture: a dark blue rounded square, a white chip outline and a green arrow into it (an update
# going into the device).
# Usage: bash scripts/make-icons.sh
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$here/app/icons"
mkdir -p "$out"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# ImageMagick 6 names its tool convert; CONVERT=PATH picks another copy.
convert="${CONVERT:-convert}"

"$convert" -size 256x256 xc:none \
    -fill '#1f4e8c' -draw 'roundrectangle 8,8 247,247 40,40' \
    -fill none -stroke white -strokewidth 12 -draw 'roundrectangle 56,120 200,216 12,12' \
    -stroke white -strokewidth 10 \
    -draw 'line 84,216 84,236' -draw 'line 128,216 128,236' -draw 'line 172,216 172,236' \
    -stroke none -fill '#4cd964' -draw 'polygon 104,24 152,24 152,84 184,84 128,148 72,84 104,84' \
    -depth 8 "$work/256.png"
cp "$work/256.png" "$out/iap-tool.png"
"$convert" "$work/256.png" -resize 48x48 -depth 8 "$out/iap-tool-48.png"
"$convert" "$work/256.png" -depth 8 -define icon:auto-resize=256,64,48,32,24,16 "$out/iap-tool.ico"
ls -l "$out"
