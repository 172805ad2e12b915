#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need; skips apt-get when all are present.
# Run as root (CI and a fresh machine); prints what it installs.
set -euo pipefail

# clang with its run-time libraries builds the fuzz targets (libFuzzer); llvm brings the symbolizer that
# puts function names and lines into sanitizer reports. libbenchmark-dev (Google Benchmark) builds the
# micro-benchmarks of bench/ (bench/run.sh). libcli11-dev is where third_party/CLI11 was copied from
# (the builds read that copy; see its CMakeLists.txt). lintian checks the Debian package and help2man
# writes its manual pages from the programs' --help (scripts/package.sh).
packages=(g++ cmake ninja-build libgtest-dev libcli11-dev srecord qt6-base-dev qt6-tools-dev libqt6opengl6-dev libxkbcommon-dev libgl-dev
          file dpkg-dev lintian help2man clang libclang-rt-dev llvm libbenchmark-dev
          # The Windows programs (scripts/build-windows.sh, scripts/test-windows.sh): the mingw-w64 cross
          # compiler with posix threads (std::thread); Debian's host Qt tools (moc, uic of the same 6.4.2)
          # for the Qt for Windows archive; NSIS for the installer and zip for the ZIP (CPack); wine to
          # run the .exe files (the tests, the end-to-end checks, the installer); xvfb and xauth give
          # iap-tool.exe a display under wine (xvfb-run).
          g++-mingw-w64-x86-64-posix qt6-base-dev-tools nsis zip wine wine64 xvfb xauth)
missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    echo "[deps] all packages present"
    exit 0
fi
echo "[deps] installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "[deps] run as root (or with sudo) to install packages" >&2
    exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
