#!/usr/bin/env bash
# Fails when a folder includes one above it, or when the core includes Qt. The layers share one
# include root, so a wrong include of a header-only piece would still compile; the build's own layer
# links (cmake/IapLayers.cmake) catch only calls into a higher layer.
#   app -> ui -> engine -> transport, files -> protocol -> base
#   sim        includes only sim, protocol and base: it keeps its own knowledge of the device
#   bench      stands beside (it may include the core and the simulator, never ui, app or tests)
#   Qt         only in ui and app
# Usage: bash scripts/check-layers.sh [source-root]   (default: the folder above this script)
set -euo pipefail
root="${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
cd "$root"

# Top folders of the project whose headers are "ours" when included by path.
ours='base|protocol|engine|transport|files|ui|app|sim|bench|tests'
failures=0

# check <folder> <allowed include prefix regex> <what the rule says> [qt]; with "qt" the folder may
# include Qt.
check() {
    local folder="$1" allowed="$2" rule="$3" qt="${4:-}"
    local file number text target
    while IFS= read -r file; do
        while IFS=: read -r number text; do
            target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]*)[">].*/\1/' <<<"$text")
            if [[ -z "$qt" && "$target" =~ ^(Qt|Q[A-Z]|q[a-z0-9_]+\.h$) ]]; then
                echo "$file:$number: includes Qt ($target); the core never includes Qt"
                failures=$((failures + 1))
            elif [[ "$target" =~ ^($ours)/ && ! "$target" =~ ^($allowed)/ ]]; then
                echo "$file:$number: includes $target; $rule"
                failures=$((failures + 1))
            fi
        done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" || true)
    done < <(find "$folder" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.inl' \) -print)
}

check base 'base' "the base layer includes nothing of ours above it"
check protocol 'protocol|base' "protocol includes only itself and base"
check transport 'transport|base' "transport includes only itself and base: the port knows no protocol"
check files 'files|base' "files includes only itself and base"
check engine 'engine|transport|files|protocol|base' "the engine never includes ui, app, sim, bench or tests"
check ui 'ui|engine|transport|files|protocol|base' "ui never includes app, sim, bench or tests" qt
check app 'app|ui|engine|transport|files|protocol|base' "app never includes sim, bench or tests" qt
check sim 'sim|protocol|base' "the simulator includes only itself, protocol and base"
check bench 'bench|sim|engine|transport|files|protocol|base' "bench never includes ui, app or tests"

if [ "$failures" -ne 0 ]; then
    echo "[layers] $failures include(s) against the layers"
    exit 1
fi
echo "[layers] every include keeps to its layer"
