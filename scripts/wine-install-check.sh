#!/usr/bin/env bash
# The Windows installer under wine: installs silently into C:\iap of the Windows build's prefix,
# checks what it put there (both programs, Qt's DLLs and plugins, "Skin", the start menu entry, the
# uninstaller), runs the installed iap-cli.exe --inspect on the simulator's sample files, then
# uninstalls silently and checks the programs are gone. Ends 0 only when every check passed.
# Usage: bash scripts/wine-install-check.sh BUILD_NATIVE BUILD_WIN
#   BUILD_NATIVE holds bin/iap-devsim (it writes the sample files); BUILD_WIN the packaged installer
#   (scripts/build-windows.sh).
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_NATIVE BUILD_WIN" >&2; exit 64; }
native="$(cd "$1" && pwd)"
win="$(cd "$2" && pwd)"
installer="$(ls -t "$win"/iap-tool-*-win64.exe 2>/dev/null | head -n 1)"
[ -n "$installer" ] || { echo "install-check: no iap-tool-*-win64.exe in $win; run scripts/build-windows.sh" >&2; exit 1; }

export LANG=C.UTF-8 LC_ALL=C.UTF-8
source "$(dirname "${BASH_SOURCE[0]}")/lib/wineprefix.sh"
wine_test_env "$win/wineprefix"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" --wait
fi

target="$WINEPREFIX/drive_c/iap"
failures=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "  ok: $1"; else echo "  FAILED: $1"; failures=$((failures + 1)); fi
}

# A fresh start: an earlier installation is uninstalled, and a stale registry entry (its folder gone)
# is dropped, else the installer would try to run an uninstaller that is not there and stop.
if [ -f "$target/uninstall.exe" ]; then
    "$wine" 'C:\iap\uninstall.exe' /S
    "$wineserver" --wait
fi
"$wine" reg delete 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\iap-tool' /f >/dev/null 2>&1 || true
rm -rf "$target"
echo "install-check: $(basename "$installer") /S /D=C:\\iap"
# /D must come last and unquoted (NSIS reads the rest of the line as the folder).
"$wine" "$installer" /S '/D=C:\iap'
"$wineserver" --wait
for file in iap-cli.exe iap-tool.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Xml.dll Qt6UiTools.dll \
            libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
            platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll uninstall.exe; do
    check "installed $file" test -f "$target/$file"
done
check "installed Skin" test -n "$(ls "$target/Skin" 2>/dev/null)"
check "no test program installed" test -z "$(ls "$target" | grep -i '_test\|gtest')"
shortcut="$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name 'IAP Tool.lnk' | head -n 1)"
check "start menu entry (${shortcut#"$WINEPREFIX/"})" test -n "$shortcut"

samples="$win/install-check-samples"
rm -rf "$samples"
"$native/bin/iap-devsim" --make-samples "$samples" >/dev/null
inspect_status=0
inspect="$("$wine" 'C:\iap\iap-cli.exe' --inspect --folder "$(winepath -w "$samples" 2>/dev/null)" 2>&1)" ||
    inspect_status=$?
echo "$inspect" | sed 's/^/    /'
check "installed iap-cli.exe --inspect ends 0" test "$inspect_status" -eq 0
check "--inspect reads the firmware file" grep -q 'записей: ' <<<"$inspect"
check "--inspect reads ver.txt" grep -q 'версия ПО' <<<"$inspect"
check "--inspect refuses nothing" bash -c '! grep -q "ОТКАЗ" <<<"$1"' _ "$inspect"

"$wine" 'C:\iap\uninstall.exe' /S
"$wineserver" --wait
check "uninstaller removed the programs" test ! -e "$target/iap-cli.exe" -a ! -e "$target/iap-tool.exe"
check "uninstaller removed the start menu entry" test ! -e "$shortcut"
rm -rf "$samples"

if [ "$failures" -ne 0 ]; then
    echo "install-check: $failures check(s) failed"
    exit 1
fi
echo "install-check: passed"
