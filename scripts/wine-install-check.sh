#!/usr/bin/env bash
# The Windows installer under wine, as a normal user would run it: silently (/S) with no folder given,
# so it installs for the current user into the user's own programs folder, without administrator
# rights (its manifest asks for none) and without touching the machine-wide registry. Checks what it
# put there (both programs, Qt's DLLs and plugins, "Skin", the user's guide, the licences, the Start
# menu's three entries, the uninstaller, the uninstall entry in HKCU), runs the installed iap-cli.exe
# --inspect on the simulator's sample files and starts the installed iap-tool.exe (on Xvfb, through its
# automation channel), then runs the uninstaller the way the system's "Apps" list does (its quiet
# uninstall command from the registry) and checks that nothing is left: no folder, no menu entry, no
# registry key. Then the same for an all-users install (/AllUsers, as an administrator may choose):
# Program Files, HKLM, the common Start menu, and nothing left after its uninstaller. Ends 0 only when
# every check passed.
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
unset QT_QPA_PLATFORM
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=wineserver
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" --wait
fi

failures=0
check() {  # check DESCRIPTION COMMAND...
    if "${@:2}"; then echo "  ok: $1"; else echo "  FAILED: $1"; failures=$((failures + 1)); fi
}
uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\iap-tool'
# reg_value ROOT NAME: the value NAME of the uninstall key under ROOT (HKCU or HKLM), empty if none.
reg_value() {
    { "$wine" reg query "$1\\$uninstall_key" /v "$2" 2>/dev/null || true; } | tr -d '\r' |
        sed -n "s/^ *$2 *REG_[A-Z_]* *//p" | head -n 1
}
# unix_path WINDOWS_PATH
unix_path() { { winepath -u "$1" 2>/dev/null || true; } | tr -d '\r'; }

# The installer's manifest: a normal user is never asked for an administrator's password.
level="$(grep -a -o 'requestedExecutionLevel level="[A-Za-z]*"' "$installer" | head -n 1)"
echo "install-check: manifest: $level"
check "the installer asks for no administrator rights" \
    bash -c '[ "$1" = "requestedExecutionLevel level=\"asInvoker\"" ] || [ "$1" = "requestedExecutionLevel level=\"highestAvailable\"" ]' _ "$level"

# A fresh start: an earlier installation (of either kind) is removed, stale entries are dropped.
for root in HKCU HKLM; do
    quiet="$(reg_value "$root" QuietUninstallString)"
    location="$(reg_value "$root" InstallLocation)"
    if [ -n "$location" ] && [ -f "$(unix_path "$location")/uninstall.exe" ]; then
        "$wine" "$(unix_path "$location")/uninstall.exe" /S "/${quiet##*/}" >/dev/null 2>&1 || true
        "$wineserver" --wait
    fi
    "$wine" reg delete "$root\\$uninstall_key" /f >/dev/null 2>&1 || true
done
rm -rf "$WINEPREFIX/drive_c/iap"

echo "install-check: $(basename "$installer") /S"
"$wine" "$installer" /S
"$wineserver" --wait
location="$(reg_value HKCU InstallLocation)"
target="$(unix_path "$location")"
local_programs="$(unix_path "$("$wine" cmd /c echo %LOCALAPPDATA% 2>/dev/null | tr -d '\r')")/Programs/IAP Tool"
echo "install-check: installed into $location"
check "installed for the current user (HKCU uninstall entry)" test -n "$location"
check "into the user's programs folder (%LOCALAPPDATA%\\Programs\\IAP Tool)" \
    test "$(realpath -m "$target")" = "$(realpath -m "$local_programs")"
check "nothing in the machine-wide registry (HKLM)" test -z "$(reg_value HKLM InstallLocation)"
for file in iap-cli.exe iap-tool.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6Xml.dll Qt6UiTools.dll \
            libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
            platforms/qwindows.dll styles/qwindowsvistastyle.dll imageformats/qico.dll uninstall.exe \
            docs/user-guide.html licenses/third-party-notices.txt licenses/CLI11.txt licenses/LGPL-3.txt; do
    check "installed $file" test -f "$target/$file"
done
check "installed Skin" test -n "$(ls "$target/Skin" 2>/dev/null)"
check "no test program installed" test -z "$(ls "$target" | grep -i '_test\|gtest')"
check "no developers' README installed" test ! -e "$target/README.md"
menu="$(find "$WINEPREFIX/drive_c/users" -path '*Start Menu*' -type d -name 'IAP Tool' | head -n 1)"
check "start menu folder (${menu#"$WINEPREFIX/"})" test -n "$menu"
for entry in "IAP Tool.lnk" "Руководство пользователя.lnk" "Удалить IAP Tool.lnk"; do
    check "start menu entry $entry" test -f "$menu/$entry"
done
check "the guide's entry opens the guide" grep -a -q 'user-guide.html' "$menu/Руководство пользователя.lnk"
# A shortcut keeps its arguments as UTF-16.
check "the uninstall entry names the per-user mode" \
    env LC_ALL=C grep -a -q -P 'C\x00u\x00r\x00r\x00e\x00n\x00t\x00U\x00s\x00e\x00r' "$menu/Удалить IAP Tool.lnk"

samples="$win/install-check-samples"
rm -rf "$samples"
"$native/bin/iap-devsim" --make-samples "$samples" >/dev/null
inspect_status=0
inspect="$("$wine" "$target/iap-cli.exe" --inspect --folder "$(winepath -w "$samples" 2>/dev/null)" 2>&1)" ||
    inspect_status=$?
echo "$inspect" | sed 's/^/    /'
check "installed iap-cli.exe --inspect ends 0" test "$inspect_status" -eq 0
check "--inspect reads the firmware file" grep -q 'записей: ' <<<"$inspect"
check "--inspect reads ver.txt" grep -q 'версия ПО' <<<"$inspect"
check "--inspect refuses nothing" bash -c '! grep -q "ОТКАЗ" <<<"$1"' _ "$inspect"
check "--inspect shows the folder with Windows separators" bash -c 'grep "^Папка: " <<<"$1" | grep -qv /' _ "$inspect"

# The installed window program, as the Start menu starts it: no folder, no port. It answers its
# automation channel once its window is up and ends on "quit".
tool_out="$win/install-check-tool.out"
tool_status=0
printf 'get lbl_status\nquit\n' |
    timeout -k 10 180 xvfb-run -a -s "-screen 0 1280x900x24" "$wine" "$target/iap-tool.exe" --automation \
        >"$tool_out" 2>"$win/install-check-tool.err" || tool_status=$?
tr -d '\r' <"$tool_out" | sed 's/^/    /'
check "the installed iap-tool.exe starts" grep -q '^@@ ready' <(tr -d '\r' <"$tool_out")
check "it answers from its window" grep -q '^@@ .*lbl_status\|^@@ text=' <(tr -d '\r' <"$tool_out")
check "it ends 0 on quit" test "$tool_status" -eq 0
rm -f "$tool_out" "$win/install-check-tool.err"

# The whole job with the installed program as a user starts it: no port, no folder; the update folder
# dropped on its window, the device found by its scan on COM20, every image intact at the simulator.
check "the installed iap-tool.exe, started bare, updates the device from a dropped folder" \
    env IAP_WINE_TOOL="$target/iap-tool.exe" IAP_WINE_TOOL_BARE=1 \
    bash "$(dirname "${BASH_SOURCE[0]}")/wine-gui-e2e.sh" "$native" "$win"

# Uninstalled as the system's list of programs does it.
quiet="$(reg_value HKCU QuietUninstallString)"
echo "install-check: uninstall: $quiet"
"$wine" "$target/uninstall.exe" /S "/${quiet##*/}"
"$wineserver" --wait
check "uninstaller left no folder behind" test ! -e "$target"
check "uninstaller removed the start menu folder" test ! -e "$menu"
check "uninstaller removed the uninstall entry" test -z "$(reg_value HKCU InstallLocation)"
check "uninstaller removed the settings key" \
    bash -c '! "$1" reg query "HKCU\\Software\\IAP Tool developers" >/dev/null 2>&1' _ "$wine"
rm -rf "$samples"

# An all-users install stays possible for an administrator (wine's user is one): Program Files, HKLM.
echo "install-check: $(basename "$installer") /S /AllUsers"
"$wine" "$installer" /S /AllUsers
"$wineserver" --wait
all_location="$(reg_value HKLM InstallLocation)"
all_target="$(unix_path "$all_location")"
echo "install-check: installed into $all_location"
check "for all users: uninstall entry in HKLM" test -n "$all_location"
check "for all users: into Program Files" bash -c '[[ "$1" == *"Program Files\IAP Tool" ]]' _ "$all_location"
check "for all users: the programs are there" test -f "$all_target/iap-tool.exe" -a -f "$all_target/iap-cli.exe"
all_menu="$(find "$WINEPREFIX/drive_c/ProgramData" -path '*Start Menu*' -type d -name 'IAP Tool' | head -n 1)"
check "for all users: the common start menu folder" test -f "$all_menu/IAP Tool.lnk"
quiet="$(reg_value HKLM QuietUninstallString)"
"$wine" "$all_target/uninstall.exe" /S "/${quiet##*/}"
"$wineserver" --wait
check "for all users: uninstaller left no folder behind" test ! -e "$all_target"
check "for all users: uninstaller removed the start menu folder" test ! -e "$all_menu"
check "for all users: uninstaller removed the uninstall entry" test -z "$(reg_value HKLM InstallLocation)"

if [ "$failures" -ne 0 ]; then
    echo "install-check: $failures check(s) failed"
    exit 1
fi
echo "install-check: passed"
