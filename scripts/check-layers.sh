#!/usr/bin/env bash
# Fails when a lower layer includes a higher one. The layers share one include root, so a wrong
# include of a header-only piece would still compile; the build's own layer links
# (cmake/IapLayers.cmake) catch only calls into a higher layer.
#   engine/frame  includes nothing of ours outside engine/frame
#   transport     includes only transport and engine/frame
#   files         includes only files and engine/frame
#   engine        never includes ui, app, sim or tests
#   options       includes nothing of ours (every program's command line, the simulator's too)
#   none of them  includes Qt
# Usage: bash scripts/check-layers.sh [source-root]   (default: the folder above this script)
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$root"

# Top folders of the project whose headers are "ours" when included by path.
ours='engine|transport|files|options|ui|app|sim|tests'
failures=0

# check <folder> <allowed include prefix regex> <what the rule says>; with "-p <path>" the folder is
# pruned (the frame layer inside engine has its own, stricter rule).
check() {
    local folder="$1" allowed="$2" rule="$3" prune="${4:-}"
    local -a find_args=("$folder")
    [ -n "$prune" ] && find_args+=(-path "$prune" -prune -o)
    find_args+=(-type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.inl' \) -print)
    local file number text target
    while IFS= read -r file; do
        while IFS=: read -r number text; do
            target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]*)[">].*/\1/' <<<"$text")
            if [[ "$target" =~ ^(Qt|Q[A-Z]|q[a-z0-9_]+\.h$) ]]; then
                echo "$file:$number: includes Qt ($target); the core never includes Qt"
                failures=$((failures + 1))
            elif [[ "$target" =~ ^($ours)/ && ! "$target" =~ ^($allowed) ]]; then
                echo "$file:$number: includes $target; $rule"
                failures=$((failures + 1))
            fi
        done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
    done < <(find "${find_args[@]}")
}

check engine/frame 'engine/frame/' "the frame layer includes nothing of ours above it"
check transport 'transport/|engine/frame/' "transport includes only itself and engine/frame"
check files 'files/|engine/frame/' "files includes only itself and engine/frame"
check engine 'engine/|transport/|files/' "the engine never includes ui, app, sim or tests" engine/frame
check options 'options/' "the option layer includes nothing of ours"

if [ "$failures" -ne 0 ]; then
    echo "[layers] $failures include(s) against the layers"
    exit 1
fi
echo "[layers] every include keeps to its layer"
