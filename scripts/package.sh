#!/usr/bin/env bash
# Builds the Debian package (build/iap-tool_<version>_<arch>.deb) with the windows, the command line
# and the simulator, and checks it with lintian: an error fails the script, warnings are shown. With
# --install it also installs it (apt-get resolves its Qt dependencies).
# Usage: bash scripts/package.sh [--install] [build-folder]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
install=0
if [ "${1:-}" = "--install" ]; then
    install=1
    shift
fi
build="${1:-$here/build}"

bash "$here/scripts/install-deps.sh"
# A new folder is a release build; one configured before (the test run's native build) keeps its type,
# as cpack strips the programs either way.
build_type=()
[ -f "$build/CMakeCache.txt" ] || build_type=(-DCMAKE_BUILD_TYPE=Release)
cmake -S "$here" -B "$build" -G Ninja "${build_type[@]}" -DIAP_BUILD_GUI=ON >/dev/null
cmake --build "$build"
(cd "$build" && cpack -G DEB)
package="$(ls -t "$build"/iap-tool_*.deb | head -n 1)"
echo "package: $package"
# The archive's own checker; --fail-on error: warnings and notes are printed but do not fail.
lintian --fail-on error --info "$package"
echo "lintian: no errors"
if [ "$install" -eq 1 ]; then
    apt-get install -y "$package"
fi
