#!/usr/bin/env bash
# The Windows programs, cross-built and proven under wine: the cross-build and packages
# (scripts/build-windows.sh), the unit tests as .exe files through CTest, iap-cli.exe and iap-tool.exe
# end to end against the Linux simulator (scripts/wine-cli-e2e.sh, scripts/wine-gui-e2e.sh), and the
# installer run silently into the prefix, iap-cli.exe --inspect from there, and its uninstaller.
# Every part runs even when one before failed (all findings in one run); prints how long each took.
# Usage: bash scripts/test-windows.sh [native-build] [windows-build]   (default: build, build-win)
#   The native build must hold bin/iap-devsim (scripts/test.sh builds it first).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
native="${1:-$here/build}"
win="${2:-$here/build-win}"
source "$here/scripts/timing.sh"
started=$(date +%s)
status=0

timed "windows build and packages" bash "$here/scripts/build-windows.sh" "$win" || exit 1

# The window tests draw on Qt's offscreen platform, as natively. Under wine, waits on events and
# locks go through the wine server, so the tests' waits and kept bounds stretch by 4, as under ASan
# (a value in the caller's environment wins).
IAP_TEST_TIME_SCALE="${IAP_TEST_TIME_SCALE:-4}" QT_QPA_PLATFORM=offscreen timed "windows unit tests (wine)" \
    ctest --test-dir "$win" -j2 --timeout 600 --output-on-failure || status=1
# Wine makes a console only where it has a display: the console test (it writes to a console of its
# own and reads the screen back) is skipped above and runs here, on Xvfb. Only it: with a display, a
# program that crashes under wine waits in wine's crash dialog instead of ending.
IAP_TEST_TIME_SCALE="${IAP_TEST_TIME_SCALE:-4}" timed "windows console test (wine, Xvfb)" \
    xvfb-run -a ctest --test-dir "$win" -R '^ConsoleOfOurOwn\.' --no-tests=error --timeout 300 --output-on-failure ||
    status=1

# A program that never ends under wine must not hold CI up: each check has a time limit, and what is
# left running in the build's prefix afterwards is ended with it.
bounded() {  # bounded SECONDS LABEL SCRIPT
    local result=0
    timed "$2" timeout -k 10 "$1" bash "$here/scripts/$3" "$native" "$win" || result=$?
    if [ "$result" -ne 0 ]; then
        [ "$result" -ne 124 ] || echo "[windows] $3 did not end within $1 s"
        WINEPREFIX="$win/wineprefix" wineserver -k 2>/dev/null || true
    fi
    return "$result"
}
for e2e in wine-cli-e2e wine-gui-e2e; do
    if [ -f "$here/scripts/$e2e.sh" ]; then
        bounded 300 "$e2e" "$e2e.sh" || status=1
    else
        echo "[windows] scripts/$e2e.sh is absent: that end-to-end check is skipped"
    fi
done

bounded 480 "windows installer (wine)" wine-install-check.sh || status=1
echo "[time] windows parts: $(( $(date +%s) - started )) s"
exit "$status"
