#!/usr/bin/env bash
# Checks that every include keeps to its layer, installs what is missing, builds everything (GUI included) and runs every test,
# packages the Debian package and checks it with lintian; then the same suite
# under AddressSanitizer + UndefinedBehaviorSanitizer and under ThreadSanitizer (scripts/sanitize.sh),
# every fuzz target for a bounded time (scripts/fuzz.sh), and the Windows programs cross-built and
# tested under wine (scripts/test-windows.sh). Prints how long each part took.
# Usage: bash scripts/test.sh [build-folder]   (default: build; the other builds go to
#        <build-folder>-trafficlog, -asan, -tsan, -fuzz and -win)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
source "$here/scripts/timing.sh"
started=$(date +%s)

# Cheapest first: an include against the layers fails the run before anything is built.
timed "layer check" bash "$here/scripts/check-layers.sh"

bash "$here/scripts/install-deps.sh"
timed "native configure" cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DIAP_BUILD_TESTS=ON -DIAP_BUILD_GUI=ON
timed "native build" cmake --build "$build"
# Qt's offscreen platform lets the window tests run without a display.
export QT_QPA_PLATFORM=offscreen
timed "native tests" ctest --test-dir "$build" --output-on-failure --timeout 600 -j2
# The Debian package from the same build, checked by lintian (an error fails the run).
timed "debian package" bash "$here/scripts/package.sh" "$build"

# The traffic logs are a build-time switch; check the switched-on build too.
cmake -S "$here" -B "$build-trafficlog" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DIAP_TRAFFIC_LOG=ON >/dev/null
timed "traffic-log build" cmake --build "$build-trafficlog" --target engine_TrafficLog_test
timed "traffic-log tests" ctest --test-dir "$build-trafficlog" --output-on-failure -R TrafficLogTest

# These run even when one before fails, so one CI run shows every finding.
export IAP_BUILD_BASE="$build"
status=0
bash "$here/scripts/sanitize.sh" asan tsan || status=1
bash "$here/scripts/fuzz.sh" || status=1
bash "$here/scripts/test-windows.sh" "$build" "$build-win" || status=1
echo "[time] whole test run: $(( $(date +%s) - started )) s"
exit "$status"
