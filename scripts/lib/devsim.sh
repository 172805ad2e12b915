# shellcheck shell=bash
# The device simulator in the scripts that update it end to end (demo.sh, bench/run.sh, the wine
# checks): start it in the background, wait for its pseudo-terminal, stop it, and check what it
# received against the update files. Sourced, not run; the caller keeps `set -euo pipefail`.
# One simulator at a time: its pid is in sim_pid (empty when none runs), which a caller that ends the
# simulator its own way (a kill mid-run) clears itself.

sim_pid=""
devsim_pty=""

# start_devsim DIR PROGRAM [OPTION...]: runs the simulator's command line in the background, its
# output in DIR/devsim.out (the first line is its pseudo-terminal) and DIR/devsim.err.
start_devsim() {
    local dir="$1"
    shift
    "$@" >"$dir/devsim.out" 2>"$dir/devsim.err" &
    sim_pid=$!
}

# wait_for_link DIR [LINK]: waits up to 5 s for the simulator started in DIR to name its
# pseudo-terminal (and to make LINK, given --link). Sets devsim_pty; returns 1 when the
# pseudo-terminal (or LINK) is not there by then.
wait_for_link() {
    local dir="$1" link="${2:-}"
    for _ in $(seq 100); do
        [ -s "$dir/devsim.out" ] && { [ -z "$link" ] || [ -e "$link" ]; } && break
        sleep 0.05
    done
    devsim_pty="$(head -n 1 "$dir/devsim.out" 2>/dev/null || true)"
    [ -c "$devsim_pty" ] && { [ -z "$link" ] || [ -e "$link" ]; }
}

# devsim_did_not_start WHO DIR: says so with the simulator's own error output, and ends the script 1.
devsim_did_not_start() {
    echo "$1: the simulator did not start:" >&2
    cat "$2/devsim.err" >&2
    exit 1
}

# stop_devsim: ends the simulator (SIGTERM lets it write its summary) and waits for it.
stop_devsim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}

# compare_images FILES RECEIVED EXPECTED INTACT DIFFERS: each binary image of the update folder FILES
# against what the simulator recorded in RECEIVED, then the HEX file's firmware, as memory from the
# base the simulator recorded (srec_cat writes it to EXPECTED), against its firmware.bin. Calls
# `INTACT NAME [BASE]` or `DIFFERS NAME [BASE]` for each (BASE for the firmware; empty when the
# simulator recorded none). Returns 1 when any image differs.
compare_images() {
    local files="$1" received="$2" expected="$3" intact="$4" differs="$5"
    local image status=0
    for image in flagdata.bin audioHead.bin picHead.bin rdfwd.bin; do
        if cmp -s "$files/$image" "$received/$image"; then
            "$intact" "$image"
        else
            "$differs" "$image"
            status=1
        fi
    done
    if [ ! -f "$received/firmware.base" ]; then
        "$differs" AC7811_project.hex ""
        return 1
    fi
    local base
    base="$(cat "$received/firmware.base")"
    srec_cat "$files/AC7811_project.hex" -Intel -offset "-$base" -o "$expected" -Binary
    if cmp -s "$expected" "$received/firmware.bin"; then
        "$intact" AC7811_project.hex "$base"
    else
        "$differs" AC7811_project.hex "$base"
        status=1
    fi
    return "$status"
}
