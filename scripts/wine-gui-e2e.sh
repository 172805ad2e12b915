#!/usr/bin/env bash
# The Windows programs under wine against the Linux device simulator: iap-tool.exe (on Xvfb) finds the
# device on COM20, runs the whole update from its "Обновить" button through the automation channel
# and ends "Успешно обновлено!"; every image must then be intact at the simulator (the firmware
# compared as memory with srec_cat). The update files lie in a folder named in Cyrillic, given as a
# Windows path, and iap-cli.exe --inspect reads the same folder. A screenshot of the window in the
# middle of the run goes to docs/wine-main-window.png.
# The wine prefix is private to the Windows build folder; the simulator's pseudo-terminal becomes
# COM20 through $WINEPREFIX/dosdevices/com20.
# Usage: bash scripts/wine-gui-e2e.sh BUILD_NATIVE BUILD_WIN
#   BUILD_NATIVE: a native build with bin/iap-devsim; BUILD_WIN: a Windows build with bin/iap-tool.exe
#   and bin/iap-cli.exe (Qt's DLLs beside them, or the unpacked Qt tree somewhere inside BUILD_WIN).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
[ $# -eq 2 ] || { echo "usage: $0 BUILD_NATIVE BUILD_WIN" >&2; exit 64; }
native="$(cd "$1" && pwd)"
win="$(cd "$2" && pwd)"
devsim="$native/bin/iap-devsim"
# IAP_WINE_TOOL names another iap-tool.exe (the installed one, scripts/wine-install-check.sh); with
# IAP_WINE_TOOL_BARE=1 it starts as the Start menu starts it, with no port and no folder: it finds the
# device by its own scan and is given the update folder by a drop on its window.
tool="${IAP_WINE_TOOL:-$win/bin/iap-tool.exe}"
tool_dir="$(dirname "$tool")"
cli="$win/bin/iap-cli.exe"
for program in "$devsim" "$tool" "$cli"; do
    [ -x "$program" ] || [ -f "$program" ] || { echo "wine-gui-e2e: $program is missing" >&2; exit 1; }
done

# Wine turns the Linux arguments into the wide command line by the locale: UTF-8, or Cyrillic breaks.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
source "$here/scripts/lib/wineprefix.sh"
wine_test_env "$win/wineprefix"
unset QT_QPA_PLATFORM
started=$(date +%s.%N)
seconds_since() { awk -v from="$1" -v now="$(date +%s.%N)" 'BEGIN { printf "%.1f", now - from }'; }

work="$win/wine-gui-e2e"
rm -rf "$work"
mkdir -p "$work" "$WINEPREFIX"
# The server outlives the script by a few seconds; its messages go to its own log, not to ours.
wineserver -p5 >"$work/wineserver.log" 2>&1 || true

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    t=$(date +%s.%N)
    wineboot -i >/dev/null 2>&1
    wineserver -w
    echo "wine prefix made in $(seconds_since "$t") s: $WINEPREFIX"
fi

# Qt's DLLs and plugins: beside the programs when the build deploys them, else from the Qt tree. Qt's
# DLLs need the toolchain's runtime DLLs (our programs link them statically): from the toolchain when
# they are not deployed.
dll_path=()
if [ ! -f "$tool_dir/Qt6Core.dll" ]; then
    qt_bin="$(dirname "$(find "$win" -path "$WINEPREFIX" -prune -o -name Qt6Core.dll -print | head -n 1)")"
    [ -f "$qt_bin/Qt6Core.dll" ] || { echo "wine-gui-e2e: no Qt6Core.dll in $win" >&2; exit 1; }
    dll_path+=("$qt_bin")
    export QT_PLUGIN_PATH="$(winepath -w "$qt_bin/../plugins")"
fi
if [ ! -f "$tool_dir/libstdc++-6.dll" ]; then
    for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
        found="$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")"
        [ "$found" != "$dll" ] || found="/usr/x86_64-w64-mingw32/lib/$dll"
        [ -f "$found" ] || { echo "wine-gui-e2e: $dll not found in the mingw-w64 toolchain" >&2; exit 1; }
        dll_path+=("$(dirname "$found")")
    done
fi
if [ ${#dll_path[@]} -gt 0 ]; then
    WINEPATH="$(for dir in "${dll_path[@]}"; do winepath -w "$dir"; done | sort -u | paste -sd';')"
    export WINEPATH
fi

files="$work/Обновление"
mkdir -p "$files" "$work/received"
"$devsim" --make-samples "$files" >/dev/null
files_win="$(winepath -w "$files")"

source "$here/scripts/lib/devsim.sh"
trap stop_devsim EXIT INT TERM

start_devsim "$work" "$devsim" --baud 256000 --out "$work/received"
wait_for_link "$work" || devsim_did_not_start wine-gui-e2e "$work"
ln -sfn "$devsim_pty" "$WINEPREFIX/dosdevices/com20"
echo "simulator on $devsim_pty = COM20, 256000 baud; update files in $files_win"

# --- iap-cli.exe reads the Cyrillic folder, named as a Windows path -----------------------------
inspect_status=0
wine "$cli" --inspect --folder "$files_win" >"$work/inspect.out" 2>"$work/inspect.err" || inspect_status=$?
tr -d '\r' <"$work/inspect.out" >"$work/inspect.txt"
if [ "$inspect_status" -ne 0 ] || ! grep -qxF "Папка: $files_win\\" "$work/inspect.txt" ||
    ! grep -q "^AC7811_project.hex  *[0-9]* байт" "$work/inspect.txt" || [ "$(grep -c " байт (" "$work/inspect.txt")" -ne 5 ] ||
    ! grep -q "тип устройства *AC7811" "$work/inspect.txt"; then
    echo "wine-gui-e2e: iap-cli.exe --inspect (status $inspect_status) did not read $files_win:" >&2
    cat "$work/inspect.out" "$work/inspect.err" >&2
    exit 1
fi
echo "iap-cli.exe --inspect --folder $files_win: 5 files and ver.txt read"

# --- iap-tool.exe runs the update -----------------------------------------------------------------
tool_args=(--automation --port COM20 --folder "$files_win")
[ "${IAP_WINE_TOOL_BARE:-0}" = 1 ] && tool_args=(--automation)
coproc TOOL { xvfb-run -a -s "-screen 0 1280x900x24" wine "$tool" "${tool_args[@]}" 2>"$work/tool.err"; }
# Bash forgets TOOL_PID once the co-process has ended; keep it for the wait at the end.
tool_pid=$TOOL_PID

# Sends a command and prints its answer.
ask() {
    echo "$1" >&"${TOOL[1]}"
    local line
    while IFS= read -r -t 30 line <&"${TOOL[0]}"; do
        line="${line%$'\r'}"
        case "$line" in *"@@ "*) echo "${line#*@@ }"; return 0 ;; esac
    done
    echo "wine-gui-e2e: no answer to: $1" >&2
    tail -n 20 "$work/tool.err" >&2
    return 1
}
# Waits up to SECONDS until "get NAME" answers with something matching PATTERN.
wait_for() {
    local deadline=$(($(date +%s) + $3)) answer=""
    while [ "$(date +%s)" -le "$deadline" ]; do
        answer="$(ask "get $1")"
        case "$answer" in $2) return 0 ;; esac
        sleep 0.1
    done
    echo "wine-gui-e2e: timed out waiting for $1 to match $2 (last: $answer)" >&2
    tail -n 20 "$work/tool.err" >&2
    return 1
}

t=$(date +%s.%N)
line=""
IFS= read -r -t 120 line <&"${TOOL[0]}" || true
[ "${line%$'\r'}" = "@@ ready" ] || { echo "wine-gui-e2e: iap-tool.exe did not start: $line" >&2; cat "$work/tool.err" >&2; exit 1; }
echo "iap-tool.exe up in $(seconds_since "$t") s"
if [ "${IAP_WINE_TOOL_BARE:-0}" = 1 ]; then
    # The folder as a user drags it from Explorer onto the window.
    answer="$(ask "drop ${files_win//\\//}")"
    [ "$answer" = ok ] || { echo "wine-gui-e2e: the window refused the dropped folder: $answer" >&2; exit 1; }
    wait_for lbl_folder "*Обновление*" 10
    echo "update folder dropped on the window: $files_win"
fi
t=$(date +%s.%N)
wait_for btn_update "*enabled=1*" 30
wait_for btn_settings "*enabled=1*" 30
echo "device found on COM20 in $(seconds_since "$t") s"
wait_for lbl_device_type "*text=AC7811" 5
wait_for lbl_file_firmwareversion "*text=0105" 5

t=$(date +%s.%N)
[ "$(ask "click btn_update")" = ok ]
wait_for btn_cancel "*enabled=0*" 10
wait_for lbl_status "*text=Обновление базы камер...*" 180
wait_for lbl_progress "*text=4[0-9]%*" 180
shot="${IAP_SCREENSHOT_DIR:-$win}/wine-main-window.png"
[ "$(ask "grab $(winepath -w "$shot")")" = ok ]
wait_for lbl_status "*text=Успешно обновлено!" 300
update_seconds=$(seconds_since "$t")
wait_for btn_update "*enabled=1*" 5
wait_for prog_step "*value=100 *" 5
elapsed="$(ask "get lbl_usetime")"
echo "update from the button: ${update_seconds} s; the window says ${elapsed##*text=}"
[ "$(ask "quit")" = ok ]
# Under wine, once a whole run is behind it, Qt's close of the main window often skips the close event;
# the program then delivers it itself. Should it still stay, that is reported here and the program is
# ended, so that the images are still checked; the update itself must have passed every check above.
for _ in $(seq 200); do kill -0 "$tool_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$tool_pid" 2>/dev/null; then
    echo "wine-gui-e2e: WARNING: iap-tool.exe did not end within 20 s of quit under wine; ended by the script" >&2
    wineserver -k || true  # every process of this prefix
    wait "$tool_pid" 2>/dev/null || true
else
    tool_status=0
    wait "$tool_pid" || tool_status=$?
    [ "$tool_status" -eq 0 ] || { echo "wine-gui-e2e: iap-tool.exe ended with status $tool_status" >&2; exit 1; }
fi
stop_devsim

# --- what the device received ---------------------------------------------------------------------
intact() {
    if [ -n "${2:-}" ]; then
        echo "  $1: intact as memory from $2"
    else
        echo "  $1: intact ($(stat -c %s "$files/$1") bytes)"
    fi
}
differs() { echo "  $1: DIFFERS" >&2; }
failed=0
compare_images "$files" "$work/received" "$work/expected-firmware.bin" intact differs || failed=1
[ "$failed" -eq 0 ] || { echo "wine-gui-e2e: the device did not receive every image intact" >&2; exit 1; }
echo "wine-gui-e2e: passed in $(seconds_since "$started") s; screenshot: $shot (IAP_SCREENSHOT_DIR=docs refreshes the one in README)"
