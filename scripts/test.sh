#!/usr/bin/env bash
# Installs what is missing, builds everything (GUI included) and runs every test.
# Usage: bash scripts/test.sh [build-folder]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIAP_BUILD_TESTS=ON -DIAP_BUILD_GUI=ON
cmake --build "$build"
# Qt's offscreen platform lets the window tests run without a display.
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure --timeout 600 -j2

# The traffic logs are a build-time switch; check the switched-on build too.
cmake -S "$here" -B "$build-trafficlog" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DIAP_TRAFFIC_LOG=ON >/dev/null
cmake --build "$build-trafficlog" --target engine_TrafficLog_test
ctest --test-dir "$build-trafficlog" --output-on-failure -R TrafficLogTest
