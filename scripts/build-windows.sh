#!/usr/bin/env bash
# Builds the Windows programs on this Debian machine: configures with the `mingw` preset (mingw-w64 and
# the Qt for Windows archive, see cmake/mingw-w64-qt.cmake), builds iap-cli.exe, iap-tool.exe and the
# unit tests with the Qt DLLs, plugins and "Skin" beside them in <build>/bin, and packages
# <build>/iap-tool-<version>-win64.exe (NSIS installer) and <build>/iap-tool-<version>-win64.zip.
# Usage: bash scripts/build-windows.sh [build-folder]   (default: build-win)
#   The Qt archive is ../shared/windows/qt6-mingw-6.4.2.tar.xz beside the source folder, or the file
#   IAP_QT_WINDOWS_ARCHIVE=FILE names; without one the windows are left out.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build-win}"
source "$here/scripts/timing.sh"

bash "$here/scripts/install-deps.sh"
# The Qt for Windows archive: the one IAP_QT_WINDOWS_ARCHIVE names, else the one in shared/windows/
# beside the source folder. A build folder configured before keeps its unpacked Qt.
beside="$(cd "$here/.." && pwd)/shared/windows/qt6-mingw-6.4.2.tar.xz"
archive="${IAP_QT_WINDOWS_ARCHIVE:-$beside}"
gui=ON
if [ ! -f "$archive" ] && ! grep -q '^IAP_QT_WINDOWS_DIR:PATH=.\+' "$build/CMakeCache.txt" 2>/dev/null; then
    if [ -n "${IAP_QT_WINDOWS_ARCHIVE:-}" ]; then
        echo "[windows] IAP_QT_WINDOWS_ARCHIVE=$archive: no such file; building without iap-tool.exe" >&2
    else
        echo "[windows] no Qt for Windows at $beside: put the archive there or name it with" \
             "IAP_QT_WINDOWS_ARCHIVE=FILE; building without iap-tool.exe" >&2
    fi
    gui=OFF
fi
export IAP_QT_WINDOWS_ARCHIVE="$archive"
timed "windows configure" quiet cmake --preset mingw -S "$here" -B "$build" -DIAP_BUILD_GUI=$gui
timed "windows build" cmake --build "$build" -j2
# cpack strips the programs' debug information; the build folder keeps it.
timed "windows package" quiet cpack --config "$build/CPackConfig.cmake" -B "$build"
ls -l "$build"/iap-tool-*-win64.exe "$build"/iap-tool-*-win64.zip
