#!/usr/bin/env bash
# The performance benchmark (not a test: it prints figures and targets, it fails only when a run
# fails). Builds into build-bench/ with -DIAP_BUILD_BENCH=ON, then:
#   1. end to end, paced: iap-cli against `iap-devsim --baud 256000` with the benchmark's update set
#      (firmware pause 0): per step the line efficiency, from iap-cli's own summary and, measured
#      independently at the simulator's end of the line, from its summary.txt;
#   2. end to end, unpaced over the pty: firmware records per second, iap-cli's CPU time per frame,
#      the turnaround (median and 99th percentile), peak memory against the image sizes;
#   3. the device search with eight silent ports, and with one whose open blocks, before the device;
#   4. the Google Benchmark micro-benchmarks.
# Usage: bash bench/run.sh [build-folder]   (default: build-bench)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build-bench}"
baud=256000

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIAP_BUILD_BENCH=ON \
    -DIAP_BUILD_TESTS=OFF -DIAP_BUILD_GUI=OFF >/dev/null
cmake --build "$build" --target iap-cli iap-devsim iap-bench-micro iap-bench-run iap-bench-port-search >/dev/null
bin="$build/bin"
[ -x "$bin/iap-bench-run" ] || bin="$build/bench"
run="$build/bench/iap-bench-run"
[ -x "$run" ] || run="$bin/iap-bench-run"
micro="$build/bench/iap-bench-micro"
[ -x "$micro" ] || micro="$bin/iap-bench-micro"
cli="$build/bin/iap-cli"
sim="$build/bin/iap-devsim"

work="$build/bench-run"
rm -rf "$work"
mkdir -p "$work/set"
"$run" --make-set "$work/set"
# The images as the device gets them: the binary files and the firmware's 256 KiB of data.
image_bytes=$(( $(cat "$work"/set/*.bin | wc -c) + 256 * 1024 ))

echo "Машина: $(nproc) ядра, $(uname -sr), $(. /etc/os-release && echo "$PRETTY_NAME")"
echo "Набор: прошивка 256 КиБ (записи по 16 байт, 4 сегмента по 64 КиБ), база камер 1 МиБ, звук 512 КиБ,"
echo "       картинки 256 КиБ, радар 64 КиБ + 300 байт; образы вместе $image_bytes байт; пауза после прошивки 0"

source "$here/scripts/lib/devsim.sh"
trap stop_devsim EXIT INT TERM

# One end-to-end run: $1 name, the rest are iap-devsim's pacing options.
run_once() {
    local name="$1"
    shift
    local dir="$work/$name"
    mkdir -p "$dir/out"
    start_devsim "$dir" "$sim" "$@" --out "$dir/out" --link "$dir/device"
    # A simulator that did not start shows as iap-cli's failure below.
    wait_for_link "$dir" "$dir/device" || true
    "$run" --report "$dir/rusage.txt" "$cli" --port "$dir/device" --folder "$work/set" --firmware-pause-ms 0 \
        --plain >"$dir/cli.out" 2>"$dir/cli.err" || true
    stop_devsim
    if [ "$(awk '/^status/ {print $2}' "$dir/rusage.txt")" != 0 ]; then
        echo "bench: iap-cli failed in the $name run:" >&2
        cat "$dir/cli.err" >&2
        exit 1
    fi
}

# Per image: the tool's efficiency (its summary) beside the simulator's (bytes both ways over the
# time from the ready answer to the end, at this end of the line).
print_efficiency() {
    local dir="$1"
    awk -v baud="$baud" '
        FNR == NR {
            if ($0 ~ /предела линии/) {
                for (i = 1; i <= NF; i++) if ($i ~ /%$/) { pct = $i; sub(/%/, "", pct) }
                name = $1; if ($2 !~ /^[0-9]/) name = name " " $2
                tool[++n] = pct; toolName[n] = name
            }
            next
        }
        $1 == "line" { simEff[++m] = ($3 + $4) * 10 / baud / ($5 / 1e6) * 100; simName[m] = $2 }
        END {
            printf "  %-22s %12s %14s %9s\n", "шаг", "iap-cli, %", "симулятор, %", "разница"
            for (i = 1; i <= m; i++) {
                diff = tool[i] - simEff[i]; if (diff < 0) diff = -diff
                printf "  %-22s %12s %14.1f %8.1f%%\n", simName[i] " (" toolName[i] ")", tool[i], simEff[i], diff
            }
        }' "$dir/cli.out" "$dir/out/summary.txt"
}

echo
echo "1. С темпом линии ($baud бод, iap-devsim --baud $baud): доля предела линии по шагам"
run_once paced --baud "$baud"
print_efficiency "$work/paced"
grep -E "предела линии|задержка iap-cli" "$work/paced/cli.out" | sed 's/^ */  iap-cli: /'
# What else each record's time holds: the simulator's own lateness in writing the paced answers and
# the turnaround as its end of the line sees it (the pseudo-terminal's hand-over both ways included).
awk '$1 == "answer_late_us" { printf "  симулятор: ответ записан позже своего времени на %d мкс (медиана), %d мкс (99-й процентиль)\n", $3, $4 }
     $1 == "turnaround_us" { printf "  симулятор: от ответа до следующего кадра (псевдотерминал в обе стороны) медиана %d мкс, 99-й процентиль %d мкс\n", $3, $4 }' \
    "$work/paced/out/summary.txt"

echo
echo "2. Без темпа, через псевдотерминал"
run_once unpaced
awk -v cpu="$(awk '/^cpu_us/ {print $2}' "$work/unpaced/rusage.txt")" \
    -v rss="$(awk '/^max_rss_kib/ {print $2}' "$work/unpaced/rusage.txt")" \
    -v images="$image_bytes" '
    $1 == "frames_received" { frames = $2 }
    $1 == "line" && $2 == "firmware.bin" { fwUs = $5 }
    $1 == "rx" && $2 == "0x06" { fwFrames = $3 }
    $1 == "turnaround_us" { samples = $2; median = $3; p99 = $4 }
    END {
        printf "  прошивка: %.0f записей/с (цель >= 5000)\n", fwFrames / (fwUs / 1e6)
        printf "  время ЦП iap-cli: %.1f мкс на кадр (%d кадров, %.2f с ЦП)\n", cpu / frames, frames, cpu / 1e6
        printf "  оборот (ответ записан симулятором -> первый байт следующего кадра прочитан им), %d замеров:\n", samples
        printf "    медиана %d мкс (цель < 200), 99-й процентиль %d мкс\n", median, p99
        limit = 2 * images / 1024 + 32 * 1024
        printf "  пиковая память iap-cli: %.1f МиБ при образах %.1f МиБ; предел 2 x образы + 32 МиБ = %.1f МиБ: %s\n",
               rss / 1024, images / 1048576, limit / 1024, rss <= limit ? "в пределе" : "ПРЕВЫШЕН"
    }' "$work/unpaced/out/summary.txt"

echo
echo "3. Поиск устройства среди других портов (псевдотерминалы; устройство: iap-devsim)"
search="$build/bench/iap-bench-port-search"
[ -x "$search" ] || search="$bin/iap-bench-port-search"
mkdir -p "$work/search"
start_devsim "$work/search" "$sim"
wait_for_link "$work/search" || devsim_did_not_start bench "$work/search"
"$search" "$devsim_pty" 5
stop_devsim

echo
echo "4. Микробенчмарки"
"$micro" --benchmark_min_time=0.2 2>/dev/null | sed 's/^/  /'
