#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds, writes the sample update set,
# starts the device simulator on a pseudo-terminal paced at 256000 baud, updates it with iap-cli
# (with the real 10 s pause after the firmware), and checks that every image arrived intact.
# Ends 0 only when they all did. Everything it writes stays in the build folder.
# Usage: bash scripts/demo.sh [build-folder]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target iap-cli iap-devsim

bin="$build/bin"
work="$build/demo"
rm -rf "$work"
mkdir -p "$work/files" "$work/received"
"$bin/iap-devsim" --make-samples "$work/files"

source "$here/scripts/lib/devsim.sh"
trap stop_devsim EXIT INT TERM

start_devsim "$work" "$bin/iap-devsim" --baud 256000 --out "$work/received" --link "$work/device"
wait_for_link "$work" "$work/device" || devsim_did_not_start demo "$work"
echo "Симулятор устройства: $(head -n 1 "$work/devsim.out") (ссылка $work/device), 256000 бод"

status=0
"$bin/iap-cli" --port "$work/device" --folder "$work/files" --trace "$work/trace.txt" || status=$?
stop_devsim
if [ "$status" -ne 0 ]; then
    echo "demo: iap-cli ended with status $status" >&2
    exit "$status"
fi

# What the simulator received must be what the files hold.
intact() {
    if [ -n "${2:-}" ]; then
        echo "  $1: получена без искажений (с адреса $2)"
    else
        echo "  $1: получен без искажений"
    fi
}
differs() { echo "  $1: ОТЛИЧАЕТСЯ" >&2; }
failed=0
compare_images "$work/files" "$work/received" "$work/expected-firmware.bin" intact differs || failed=1
if [ "$failed" -ne 0 ]; then
    echo "demo: the device did not receive every image intact" >&2
    exit 1
fi
echo "Все образы дошли до устройства без искажений."
