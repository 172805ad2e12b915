#!/usr/bin/env bash
# Soak run (not part of CI): N updates of the simulator's sample set with iap-cli against iap-devsim,
# run k with "--seed k", so each run meets its own reproducible mix of line faults. Unpaced line,
# no firmware pause, and a short sender wait slice so that a lost answer ends a run in seconds.
#
# Each run is classified:
#   success            exit 0, and every image arrived intact and complete at the simulator
#   failure (reason)   exit 1 or 2, grouped by the reason iap-cli printed
#   hang               the time limit ran out
#   silent corruption  exit 0, but an image differs, is missing or was never completed
# Any hang or silent corruption is a bug; their seeds and faults are listed after the summary, and
# their folders are kept. Ends 0 only when there were none.
#
# Usage: bash scripts/soak.sh [runs] [build-folder]     (default: 100 runs, build)
# Environment: SOAK_FIRST (first seed, 1), SOAK_LIMIT_S (per run, 90), SOAK_SLICE_MS (500),
#              SOAK_KEEP=1 keeps every run's folder.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
runs="${1:-100}"
build="${2:-$here/build}"
first="${SOAK_FIRST:-1}"
limit="${SOAK_LIMIT_S:-90}"
slice="${SOAK_SLICE_MS:-500}"
bin="$build/bin"
work="$build/soak"

for tool in iap-cli iap-devsim; do
    [ -x "$bin/$tool" ] || { echo "soak: $bin/$tool is missing; build first" >&2; exit 64; }
done
command -v srec_cat >/dev/null || { echo "soak: srec_cat is needed to read the firmware (srecord)" >&2; exit 64; }

rm -rf "$work"
mkdir -p "$work/files"
"$bin/iap-devsim" --make-samples "$work/files" || exit 1

sim_pid=""
stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
trap 'stop_simulator; exit 130' INT TERM
trap stop_simulator EXIT

# Why an image at the simulator is not what the file holds; empty when it is.
image_problem() {  # run-folder image-name
    local out="$1/out" name="$2" received
    if [ "$name" = AC7811_project.hex ]; then
        received=firmware.bin
        [ -f "$out/firmware.base" ] || { echo "firmware missing"; return; }
        srec_cat "$work/files/$name" -Intel -offset "-$(cat "$out/firmware.base")" \
            -o "$1/expected-firmware.bin" -Binary 2>/dev/null
        cmp -s "$1/expected-firmware.bin" "$out/firmware.bin" || { echo "firmware differs"; return; }
    else
        received="$name"
        [ -f "$out/$name" ] || { echo "$name missing"; return; }
        cmp -s "$work/files/$name" "$out/$name" || { echo "$name differs"; return; }
    fi
    # The device takes an image as complete only once its end command closed it.
    grep -qx "ended $received 1" "$out/summary.txt" || echo "$received never completed"
}

# The reason iap-cli gave: "Причина: X." of a failed run, else its first error line.
failure_reason() {  # stderr-file
    local reason
    reason="$(grep -o 'Причина: .*\. Подробности' "$1" | head -n 1 | sed 's/^Причина: //; s/\. Подробности$//')"
    [ -n "$reason" ] || reason="$(grep -m 1 '^iap-cli: ' "$1" | sed 's/^iap-cli: //')"
    # Paths differ from run to run; the pty and the folder say nothing about the fault.
    echo "${reason:-(no message)}" | sed "s|$work/[^ :]*|…|g; s|/dev/pts/[0-9]*|PTY|g"
}

declare -A failures=()
successes=0
hangs=0
corruptions=0
bugs=""
started=$(date +%s)
for ((seed = first; seed < first + runs; seed++)); do
    run="$work/run-$seed"
    mkdir -p "$run/out"
    "$bin/iap-devsim" --seed "$seed" --out "$run/out" --link "$run/device" >"$run/devsim.out" 2>"$run/devsim.err" &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -e "$run/device" ] && break
        sleep 0.02
    done
    faults="$(sed -n 's/^iap-devsim: --seed [0-9]* stands for: //p' "$run/devsim.err")"
    begin=$EPOCHREALTIME
    timeout -k 5 "$limit" "$bin/iap-cli" --port "$run/device" --folder "$work/files" --firmware-pause-ms 0 \
        --test-wait-slice-ms "$slice" --plain --trace "$run/trace.txt" >"$run/cli.out" 2>"$run/cli.err"
    status=$?
    seconds=$(awk -v a="$begin" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }')
    stop_simulator
    verdict=""
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        hangs=$((hangs + 1))
        verdict="HANG after ${limit} s"
    elif [ "$status" -eq 0 ]; then
        problems=""
        for image in AC7811_project.hex flagdata.bin audioHead.bin picHead.bin rdfwd.bin; do
            problem="$(image_problem "$run" "$image")"
            [ -n "$problem" ] && problems="$problems${problems:+, }$problem"
        done
        if [ -n "$problems" ]; then
            corruptions=$((corruptions + 1))
            verdict="SILENT CORRUPTION: $problems"
        else
            successes=$((successes + 1))
        fi
    else
        key="exit $status: $(failure_reason "$run/cli.err")"
        failures["$key"]=$(( ${failures["$key"]:-0} + 1 ))
    fi
    printf 'seed %4d  exit %3d  %5s s  %s%s\n' "$seed" "$status" "$seconds" "${faults:-(no fault)}" \
        "${verdict:+  => $verdict}"
    if [ -n "$verdict" ]; then
        bugs="$bugs  seed $seed: $verdict; faults: ${faults:-(no fault)}; folder $run\n"
    elif [ "${SOAK_KEEP:-0}" != 1 ]; then
        rm -rf "$run"
    fi
done

echo
echo "Soak: $runs runs (seeds $first..$((first + runs - 1))) in $(( $(date +%s) - started )) s"
printf '  %-60s %5d\n' "successes" "$successes"
for key in "${!failures[@]}"; do printf '  failure, %-51s %5d\n' "$key" "${failures[$key]}"; done | sort
printf '  %-60s %5d\n' "hangs" "$hangs" "silent corruptions" "$corruptions"
if [ -n "$bugs" ]; then
    echo
    echo "Bugs (replay: iap-devsim --seed N, or the faults as options):"
    printf '%b' "$bugs"
    exit 1
fi
