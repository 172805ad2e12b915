#!/usr/bin/env bash
# Takes the README's screenshots of iap-tool under Xvfb, against the device simulator (paced at 256000
# baud): the main window with the device found, in the firmware pause and in the middle of a run, the
# settings window with the boxes that store nothing disabled; then, in more starts, no device yet
# (its line appears late), a device with no update files, a run that failed because the device went
# away, and a damaged firmware file that keeps the run from starting.
# Usage: bash scripts/gui-screenshots.sh [build-folder]   (default: build; the GUI must be built)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
bin="$build/bin"
work="$(mktemp -d)"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
# Starts the simulator with the given options; its pty path goes to $pty.
start_sim() {
    : >"$work/sim.out"
    "$bin/iap-devsim" --baud 256000 "$@" >"$work/sim.out" 2>/dev/null &
    sim_pid=$!
    for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
    pty="$(head -n 1 "$work/sim.out")"
}
stop_sim() {
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}
trap cleanup EXIT

"$bin/iap-devsim" --make-samples "$work/files" >/dev/null
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
mkdir -p "$work/empty"

# Starts the tool on PORT with the update folder FOLDER.
start_tool() {
    coproc TOOL { XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
        "$bin/iap-tool" --automation --port "$1" --folder "$2" 2>>"$work/tool.err"; }
    ask "" >/dev/null 2>&1 || true   # "@@ ready"
}
stop_tool() {
    ask "quit" >/dev/null
    wait "$TOOL_PID" || true
}

# Sends a command and prints its answer.
ask() {
    echo "$1" >&"${TOOL[1]}"
    local line
    while IFS= read -r -t 20 line <&"${TOOL[0]}"; do
        case "$line" in *"@@ "*) echo "${line#*@@ }"; return 0 ;; esac
    done
    echo "no answer to: $1" >&2
    return 1
}
# Waits until "get NAME" answers with something matching PATTERN.
wait_for() {
    for _ in $(seq 600); do
        case "$(ask "get $1")" in $2) return 0 ;; esac
        sleep 0.1
    done
    echo "timed out waiting for $1 to match $2" >&2
    return 1
}

# 1. A whole run.
start_sim
start_tool "$pty" "$work/files"
wait_for btn_update "*enabled=1*"
wait_for btn_settings "*enabled=1*"
wait_for lbl_status "*text=Устройство подключено.*"
ask "grab $here/docs/device-found.png"
ask "click btn_update" >/dev/null
wait_for lbl_status "*text=Ожидание перезапуска устройства: [4-7] с*"
ask "grab $here/docs/firmware-pause.png"
wait_for lbl_status "*text=Обновление базы камер...*"
wait_for lbl_progress "*text=4[0-9]%*"
ask "grab $here/docs/main-window.png"
wait_for lbl_status "*text=Успешно обновлено!*"
ask "click btn_settings" >/dev/null
wait_for como_frame1_content_2_2 "*class=ComboUI*"
ask "grab $here/docs/settings-window.png"
ask "click btn_cancel" >/dev/null
wait_for lbl_status "*class=LabelUI*"
stop_tool
stop_sim

# 2. No device yet: its line appears 6 s after the start; the folder holds no update file.
start_sim --link "$work/ttyLATE" --link-delay-ms 6000
start_tool "$work/ttyLATE" "$work/empty/"
wait_for lbl_status "*text=Устройство не найдено*"
ask "grab $here/docs/no-device.png"
wait_for lbl_status "*text=Устройство подключено. Файлы обновления не найдены*"
ask "grab $here/docs/no-files.png"
stop_tool
stop_sim

# 3. The device goes away in the middle of the camera data.
start_sim --link "$work/ttyGONE"
start_tool "$work/ttyGONE" "$work/files"
wait_for btn_update "*enabled=1*"
ask "click btn_update" >/dev/null
wait_for lbl_status "*text=Обновление базы камер...*"
wait_for lbl_progress "*text=3[0-9]%*"
stop_sim
wait_for lbl_status "*text=Не удалось обновить базу камер! Причина:*"
ask "grab $here/docs/failed-run.png"
stop_tool

# 4. A firmware file with one digit changed in its third record: "Обновить" stays off and the status
# names the file, the record and what to do.
mkdir -p "$work/damaged"
cp "$work/files/"* "$work/damaged/"
awk 'NR == 3 { c = substr($0, 10, 1); $0 = substr($0, 1, 9) (c == "0" ? "1" : "0") substr($0, 11) } 1' \
    "$work/files/AC7811_project.hex" >"$work/damaged/AC7811_project.hex"
start_sim
start_tool "$pty" "$work/damaged/"
wait_for lbl_status "*text=Устройство подключено. Файл AC7811_project.hex не будет отправлен*"
ask "grab $here/docs/refused-file.png"
stop_tool
stop_sim
echo "Screenshots written to $here/docs"
