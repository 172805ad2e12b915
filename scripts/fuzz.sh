#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# in <base>-fuzz (IAP_BUILD_BASE, default: build), and runs each for a bounded time from its seed corpus
# (tests/fuzz/corpus/<Name>). A crash, a failed check, a leak, a slow input or running out of memory
# fails the run; the input that did it is kept in <base>-fuzz/artifacts/.
# Usage: bash scripts/fuzz.sh [Name...]   (default: every target)
#   IAP_FUZZ_SECONDS=N runs each target N seconds (default 30).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$here/scripts/timing.sh"
build="${IAP_BUILD_BASE:-$here/build}-fuzz"
seconds="${IAP_FUZZ_SECONDS:-30}"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(HexLine FirmwareFile BinaryImages ReceivePath VersionFile)

# The longest input each target gets: past the reader's packet sizes (4096; radar 1024 and 128) and
# past the receive buffer's bound (4 KiB), short enough to stay fast.
declare -A max_len=([HexLine]=600 [FirmwareFile]=4096 [BinaryImages]=10000 [ReceivePath]=6000 [VersionFile]=5000)

fuzz_targets=()
for name in "${targets[@]}"; do
    [ -n "${max_len[$name]:-}" ] || { echo "[fuzz] unknown target '$name'" >&2; exit 64; }
    fuzz_targets+=("fuzz_$name")
done
timed "fuzz configure" quiet cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIAP_BUILD_TESTS=OFF -DIAP_BUILD_GUI=OFF -DIAP_BUILD_FUZZ=ON \
    -DIAP_SANITIZE="address;undefined"
timed "fuzz build" cmake --build "$build" -j2 --target "${fuzz_targets[@]}"

export UBSAN_OPTIONS=print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
# The file readers get each input through a scratch file; memory keeps that from being disk-bound.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
mkdir -p "$build/artifacts"

# New inputs go to a corpus in the build folder; the seeds in the source tree stay as they are.
run_fuzzer() {
    local name="$1" corpus="$build/corpus/$1"
    mkdir -p "$corpus"
    "$build/bin/fuzz_$name" "$corpus" "$here/tests/fuzz/corpus/$name" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 \
        -max_len="${max_len[$name]}" -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
        >"$build/fuzz-$name.log" 2>&1
}

failed=()
for name in "${targets[@]}"; do
    log="$build/fuzz-$name.log"
    if timed "fuzz $name" run_fuzzer "$name"; then
        echo "[fuzz] $name: $(grep -m1 -o 'number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') runs, clean"
    else
        tail -n 60 "$log"
        echo "[fuzz] $name FAILED (whole log: $log; the input is kept in $build/artifacts/)" >&2
        failed+=("$name")
    fi
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "[fuzz] failed: ${failed[*]}" >&2
    exit 1
fi
echo "[fuzz] all targets clean"
