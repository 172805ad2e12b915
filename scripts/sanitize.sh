#!/usr/bin/env bash
# Builds the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer,
# each in its own build folder beside the main one, and runs it. Any report from any process (the test
# programs and the iap-devsim / iap-cli / iap-tool they start) fails the run; nothing of ours is
# suppressed (only Qt's own internals under ThreadSanitizer, tests/ui/qt.tsan.supp).
# Usage: bash scripts/sanitize.sh [asan|tsan]...   (default: both)
#   The folders are <base>-asan and <base>-tsan, <base> being IAP_BUILD_BASE (default: build).
#   IAP_SANITIZE_GUI=OFF leaves the window front end and its tests out of the sanitizer builds.
#   The tests' waits and kept time bounds stretch by IAP_TEST_TIME_SCALE: 4 under asan, 8 under tsan
#   (the sanitizers' own figures are about 2x and 5-15x slower, and the machine may be loaded); a
#   value in the caller's environment wins.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$here/scripts/timing.sh"
base="${IAP_BUILD_BASE:-$here/build}"
gui="${IAP_SANITIZE_GUI:-ON}"
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(asan tsan)

# Reports go to files, so one written by a child process whose output a test swallows is still seen.
# Each process writes <report folder>/report.<pid>.
run_sanitized() {
    local kind="$1" sanitizers build reports scale
    case "$kind" in
        asan) sanitizers="address;undefined"; scale=4 ;;
        tsan) sanitizers="thread"; scale=8 ;;
        *) echo "[sanitize] unknown kind '$kind' (asan or tsan)" >&2; return 64 ;;
    esac
    build="$base-$kind"
    reports="$build/sanitizer-reports"
    # clang, unlike GCC, also writes undefined-behaviour reports to the report folder when ASan is in;
    # and a second compiler beside the native build's GCC sees other things.
    timed "$kind configure" quiet cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIAP_BUILD_TESTS=ON -DIAP_BUILD_GUI="$gui" \
        -DIAP_SANITIZE="$sanitizers" || return
    timed "$kind build" cmake --build "$build" -j2 || return
    rm -rf "$reports"
    mkdir -p "$reports" || return
    local common="halt_on_error=1:log_path=$reports/report"
    local status=0
    scale="${IAP_TEST_TIME_SCALE:-$scale}"
    echo "[sanitize] $kind: test time scale $scale"
    IAP_TEST_TIME_SCALE="$scale" \
    ASAN_OPTIONS="$common:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1" \
    UBSAN_OPTIONS="$common:print_stacktrace=1" \
    TSAN_OPTIONS="$common:second_deadlock_stack=1" \
    QT_QPA_PLATFORM=offscreen \
        timed "$kind tests" ctest --test-dir "$build" --output-on-failure --timeout 600 -j2 || status=$?
    if compgen -G "$reports/report.*" >/dev/null; then
        for report in "$reports"/report.*; do
            echo "===== $report (first 200 lines)"
            head -n 200 "$report"
        done
        echo "[sanitize] $kind: sanitizer reports above" >&2
        return 1
    fi
    if [ "$status" -ne 0 ]; then
        echo "[sanitize] $kind: tests failed" >&2
        return "$status"
    fi
    echo "[sanitize] $kind: clean"
}

# Every kind runs even when one fails: the reports of both are worth having.
failed=()
for kind in "${kinds[@]}"; do
    run_sanitized "$kind" || failed+=("$kind")
done
if [ ${#failed[@]} -ne 0 ]; then
    echo "[sanitize] failed: ${failed[*]}" >&2
    exit 1
fi
