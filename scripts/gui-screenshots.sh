#!/usr/bin/env bash
# Takes the README's screenshots of iap-tool under Xvfb: the main window in the middle of an update
# run against the device simulator (paced at 256000 baud), and the settings window.
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
trap cleanup EXIT

"$bin/iap-devsim" --make-samples "$work/files" >/dev/null
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
"$bin/iap-devsim" --baud 256000 >"$work/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 100); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
pty="$(head -n 1 "$work/sim.out")"

coproc TOOL { XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x900x24" \
    "$bin/iap-tool" --automation --port "$pty" --folder "$work/files" 2>"$work/tool.err"; }

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

ask "" >/dev/null 2>&1 || true   # "@@ ready"
wait_for btn_update "*enabled=1*"
wait_for btn_settings "*enabled=1*"
ask "click btn_update" >/dev/null
wait_for lbl_status "*text=Обновление базы камер...*"
wait_for lbl_progress "*text=4[0-9]%*"
ask "grab $here/docs/main-window.png"
wait_for lbl_status "*text=Успешно обновлено!*"
ask "click btn_settings" >/dev/null
wait_for como_frame1_content_2_2 "*class=ComboUI*"
ask "grab $here/docs/settings-window.png"
ask "click btn_cancel" >/dev/null
wait_for lbl_status "*class=LabelUI*"
ask "quit" >/dev/null
wait "$TOOL_PID" || true
echo "Screenshots written to $here/docs"
