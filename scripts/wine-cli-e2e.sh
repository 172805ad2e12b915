#!/usr/bin/env bash
# iap-cli.exe end to end under wine: the Linux device simulator runs on a pseudo-terminal that a
# private wine prefix maps to COM20 (and to no other port: lib/wineprefix.sh), and the
# Windows program lists the ports, inspects the sample files, updates the simulated device (every
# image checked byte for byte at the simulator) and sees the line go away in the middle of an image.
# Ends 0 only when every check passed. Prints the round trip the firmware's small frames get.
# Usage: bash scripts/wine-cli-e2e.sh BUILD_NATIVE BUILD_WIN
#   BUILD_NATIVE holds bin/iap-devsim, BUILD_WIN bin/iap-cli.exe; the prefix and the work folder are
#   made in BUILD_WIN (wineprefix/, wine-e2e/).
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 BUILD_NATIVE BUILD_WIN" >&2
    exit 2
fi
native="$(cd "$1" && pwd)"
win="$(cd "$2" && pwd)"
devsim="$native/bin/iap-devsim"
cli="$win/bin/iap-cli.exe"
for program in "$devsim" "$cli"; do
    [ -x "$program" ] || { echo "wine-e2e: $program is missing; build it first" >&2; exit 2; }
done
for tool in wine wineboot wineserver winepath srec_cat; do
    command -v "$tool" >/dev/null || { echo "wine-e2e: $tool is not installed" >&2; exit 2; }
done

source "$(dirname "${BASH_SOURCE[0]}")/lib/wineprefix.sh"
wine_test_env "$win/wineprefix"
work="$win/wine-e2e"
rm -rf "$work"
mkdir -p "$work/files"
log="$work/wine.log"
# The wine server keeps the output it started with; opening a pty makes it the pty's controlling
# process, and a hang-up then makes it dump its objects there.
mkdir -p "$WINEPREFIX"
wineserver -p30 </dev/null >>"$log" 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-e2e: making the wine prefix $WINEPREFIX"
    wineboot -i </dev/null >>"$log" 2>&1
fi
com20="$WINEPREFIX/dosdevices/com20"
"$devsim" --make-samples "$work/files"
files_win="$(winepath -w "$work/files" 2>>"$log")"

passed=0
failed=0
pass() { echo "PASS: $*"; passed=$((passed + 1)); }
fail() { echo "FAIL: $*" >&2; failed=$((failed + 1)); }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

source "$(dirname "${BASH_SOURCE[0]}")/lib/devsim.sh"
finish() {
    stop_devsim
    rm -f "$com20"
    wineserver -k >/dev/null 2>&1 || true
}
trap finish EXIT INT TERM

# start_simulator NAME [simulator options...]: a simulator recording into $work/NAME, mapped to COM20.
start_simulator() {
    local name="$1"
    shift
    mkdir -p "$work/$name"
    start_devsim "$work/$name" "$devsim" --out "$work/$name/received" "$@"
    wait_for_link "$work/$name" || devsim_did_not_start wine-e2e "$work/$name"
    ln -sf "$devsim_pty" "$com20"
}

# run_cli NAME [iap-cli options...]: iap-cli.exe's exit status into $status, its output into
# $work/NAME/cli.out and .err, its wall time into $elapsed.
run_cli() {
    local name="$1"
    shift
    mkdir -p "$work/$name"
    local start
    start="$(now)"
    status=0
    timeout 600 wine "$cli" "$@" </dev/null >"$work/$name/cli.out" 2>"$work/$name/cli.err" || status=$?
    elapsed="$(seconds "$start" "$(now)")"
    # Console output of a Windows program ends its lines with CR LF.
    sed -i 's/\r$//' "$work/$name/cli.out" "$work/$name/cli.err"
}

# 1. The system's ports are the registry's, and the prefix maps none of the machine's serial devices
#    (lib/wineprefix.sh): the registry lists no port and no COM link leads to a device of the machine,
#    so the program lists none. COM20, this check's own, is a link only, which no registry entry names.
run_cli list-ports --list-ports
registry="$(wine reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>>"$log" | tr -d '\r' |
    awk '$2 == "REG_SZ" { print "\\\\.\\" toupper($3) }' | sort || true)"  # no such key: no port
links="$(find "$WINEPREFIX/dosdevices" -maxdepth 1 -name 'com*' \( -lname '/dev/ttyS*' -o -lname '/dev/ttyUSB*' \
    -o -lname '/dev/ttyACM*' \) -printf '%f -> %l\n' | sort | paste -sd' ')"
if [ "$status" -eq 0 ] && [ -z "$registry" ] && grep -q '^Последовательные порты не найдены' "$work/list-ports/cli.out" &&
    [ -z "$links" ]; then
    pass "--list-ports shows no port: the prefix maps none of the machine's serial devices"
else
    fail "--list-ports (status $status) shows '$(head -c 300 "$work/list-ports/cli.out")'; the registry holds '$(echo $registry)'; links to the machine's devices: '${links}'"
fi

# 2. COM names given with --port stand for \\.\COMn, in the order given.
run_cli list-given --list-ports --port com20 --port 'COM3' --port '\\.\COM7'
expected=$'порт 1: \\\\.\\COM20\nпорт 2: \\\\.\\COM3\nпорт 3: \\\\.\\COM7'
if [ "$status" -eq 0 ] && [ "$(cat "$work/list-given/cli.out")" = "$expected" ]; then
    pass "--port com20 --port COM3 --port \\\\.\\COM7 become ports 1..3 in that order"
else
    fail "--port COM names: status $status, listed: $(cat "$work/list-given/cli.out")"
fi

# 3. --inspect reads the update files from a Windows path.
run_cli inspect --port COM20 --inspect --folder "$files_win"
if [ "$status" -eq 0 ] && grep -q '^AC7811_project.hex' "$work/inspect/cli.out" &&
    grep -q 'записей: ' "$work/inspect/cli.out" && grep -q '^rdfwd.bin' "$work/inspect/cli.out"; then
    pass "--port COM20 --inspect --folder $files_win describes the sample files"
else
    fail "--inspect ended $status: $(head -c 400 "$work/inspect/cli.out" "$work/inspect/cli.err")"
fi

# 4. A whole update over COM20 ends 0 with every image intact at the simulator.
start_simulator update
run_cli update --port COM20 --folder "$files_win" --firmware-pause-ms 100 --plain
stop_devsim
received="$work/update/received"
if [ "$status" -eq 0 ] && grep -q 'Успешно обновлено!' "$work/update/cli.out"; then
    pass "the update over COM20 ended 0 with \"Успешно обновлено!\" in ${elapsed} s"
else
    fail "the update over COM20 ended $status: $(tail -n 5 "$work/update/cli.out" "$work/update/cli.err")"
fi
image_intact() {
    if [ "$1" = AC7811_project.hex ]; then
        pass "the firmware arrived as the HEX file's memory from $2 (srec_cat)"
    else
        pass "$1 arrived byte-identical"
    fi
}
image_differs() {
    if [ "$1" != AC7811_project.hex ]; then
        fail "$1 differs at the simulator"
    elif [ -n "$2" ]; then
        fail "the firmware at the simulator differs from the HEX file's memory"
    else
        fail "the simulator recorded no firmware"
    fi
}
compare_images "$work/files" "$received" "$work/update/expected-firmware.bin" image_intact image_differs || true
if grep -qx 'bad_checksum 0' "$received/summary.txt" 2>/dev/null; then
    pass "the simulator saw no frame with a bad checksum"
else
    fail "the simulator counted bad frames: $(grep -E '^bad_|^incomplete' "$received/summary.txt" 2>/dev/null | tr '\n' ' ')"
fi
records="$(sed -n 's/^Обновление ПО\.\.\. (\([0-9]*\))$/\1/p' "$work/update/cli.out")"
# The summary row: ПО, bytes out, "байт", answer bytes, "байт", wire time, "с", measured time, "с", ...
firmware_s="$(awk '$1 == "ПО" && $3 == "байт" && $5 == "байт" { print $8 }' "$work/update/cli.out")"
if [ -n "$records" ] && [ -n "$firmware_s" ]; then
    awk -v n="$records" -v s="$firmware_s" 'BEGIN {
        if (s > 0) printf "  figure: %d firmware records in %.1f s under wine: %.0f records/s, %.2f ms a record (write, answer, next write)\n", n, s, n / s, 1000 * s / n }'
fi
sed -n '/^Итог:/,$p' "$work/update/cli.out" | sed 's/^/  /'

# 5. Without --port the program searches the ports the system lists; this prefix has no such list
#    (see 1), so it tries \\\\.\\COM1 to COM49 all at once, as the window does, and a single search
#    (no --wait-device) finds the device on COM20.
start_simulator scan
run_cli scan --folder "$files_win" --firmware-pause-ms 100 --plain
stop_devsim
ended="$(grep -c '^ended .* 1$' "$work/scan/received/summary.txt" 2>/dev/null || true)"
if [ "$status" -eq 0 ] && [ "$ended" = 5 ]; then
    pass "without --port the scan found the device on COM20 and the update ended 0 (${elapsed} s, 5 images ended)"
else
    fail "the scan without --port ended $status with ${ended:-0} images ended: $(tail -n 3 "$work/scan/cli.out" "$work/scan/cli.err")"
fi

# 6. The line goes away mid-image: the run ends 1, soon, saying so.
# unplug NAME HOW: HOW is "hangup" (the simulator closes its end after the 4th audio frame) or
# "kill" (the simulator is killed once the firmware is a fifth through).
unplug() {
    local name="$1" how="$2"
    local sim_args=()
    [ "$how" = hangup ] && sim_args=(--hangup 0x33@4)
    start_simulator "$name" "${sim_args[@]}"
    local start
    start="$(now)"
    status=0
    timeout 120 wine "$cli" --port COM20 --folder "$files_win" --firmware-pause-ms 100 --plain \
        --trace "$(winepath -w "$work/$name/trace.txt" 2>>"$log")" </dev/null >"$work/$name/cli.out" 2>"$work/$name/cli.err" &
    local cli_pid=$!
    local gone=""
    if [ "$how" = kill ]; then
        for _ in $(seq 1200); do
            grep -q '(308/' "$work/$name/cli.out" 2>/dev/null && break
            sleep 0.05
        done
        kill -KILL "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
        gone="$(now)"
    else
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
        gone="$(now)"
    fi
    wait "$cli_pid" || status=$?
    local after
    after="$(seconds "$gone" "$(now)")"
    sed -i 's/\r$//' "$work/$name/cli.out" "$work/$name/cli.err"
    local said=no
    grep -q 'связь с устройством потеряна' "$work/$name/cli.out" "$work/$name/cli.err" && said=yes
    if [ "$status" -eq 1 ] && [ "$said" = yes ] && awk -v a="$after" 'BEGIN { exit !(a <= 5) }'; then
        pass "unplug ($how) mid-image: iap-cli.exe ended 1 ${after} s after the line went away, saying the link was lost" \
            "($(grep -a -o 'line lost on [a-z]*' "$work/$name/trace.txt" | head -n 1))"
    else
        fail "unplug ($how): status $status, ${after} s after the line went away, loss said: $said; $(tail -n 3 "$work/$name/cli.out" "$work/$name/cli.err")"
    fi
}
unplug unplug-hangup hangup
unplug unplug-kill kill

echo "wine-e2e: $passed passed, $failed failed (details in $work)"
[ "$failed" -eq 0 ]
