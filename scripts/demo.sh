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

sim_pid=""
stop_simulator() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
trap stop_simulator EXIT INT TERM

"$bin/iap-devsim" --baud 256000 --out "$work/received" --link "$work/device" >"$work/devsim.out" 2>"$work/devsim.err" &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$work/devsim.out" ] && [ -e "$work/device" ] && break
    sleep 0.05
done
if [ ! -e "$work/device" ]; then
    echo "demo: the simulator did not start:" >&2
    cat "$work/devsim.err" >&2
    exit 1
fi
echo "Симулятор устройства: $(head -n 1 "$work/devsim.out") (ссылка $work/device), 256000 бод"

status=0
"$bin/iap-cli" --port "$work/device" --folder "$work/files" --trace "$work/trace.txt" || status=$?
stop_simulator
if [ "$status" -ne 0 ]; then
    echo "demo: iap-cli ended with status $status" >&2
    exit "$status"
fi

# What the simulator received must be what the files hold.
failed=0
for image in flagdata.bin audioHead.bin picHead.bin rdfwd.bin; do
    if cmp -s "$work/files/$image" "$work/received/$image"; then
        echo "  $image: получен без искажений"
    else
        echo "  $image: ОТЛИЧАЕТСЯ" >&2
        failed=1
    fi
done
base="$(cat "$work/received/firmware.base")"
srec_cat "$work/files/AC7811_project.hex" -Intel -offset "-$base" -o "$work/expected-firmware.bin" -Binary
if cmp -s "$work/expected-firmware.bin" "$work/received/firmware.bin"; then
    echo "  AC7811_project.hex: получена без искажений (с адреса $base)"
else
    echo "  AC7811_project.hex: ОТЛИЧАЕТСЯ" >&2
    failed=1
fi
if [ "$failed" -ne 0 ]; then
    echo "demo: the device did not receive every image intact" >&2
    exit 1
fi
echo "Все образы дошли до устройства без искажений."
