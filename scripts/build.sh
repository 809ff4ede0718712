#!/usr/bin/env bash
# Configures and builds into BUILD_DIR (default build/release). Pass --sanitize for an
# AddressSanitizer + UBSan build in build/sanitize.
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=OFF
dir=${BUILD_DIR:-build/release}
type=RelWithDebInfo
if [ "${1:-}" = "--sanitize" ]; then
    sanitize=ON
    dir=${BUILD_DIR:-build/sanitize}
    type=Debug
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=$type -DUPDATE_SANITIZE=$sanitize >/dev/null
cmake --build "$dir"
echo "$dir"
