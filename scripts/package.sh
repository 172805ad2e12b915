#!/usr/bin/env bash
# Builds the Debian package (build/iap-tool_<version>_<arch>.deb) with the windows, the command line
# and the simulator. With --install it also installs it (apt-get resolves its Qt dependencies).
# Usage: bash scripts/package.sh [--install] [build-folder]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
install=0
if [ "${1:-}" = "--install" ]; then
    install=1
    shift
fi
build="${1:-$here/build}"

bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DIAP_BUILD_GUI=ON >/dev/null
cmake --build "$build"
(cd "$build" && cpack -G DEB)
package="$(ls -t "$build"/iap-tool_*.deb | head -n 1)"
echo "package: $package"
if [ "$install" -eq 1 ]; then
    apt-get install -y "$package"
fi
