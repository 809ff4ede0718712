#!/usr/bin/env bash
# Cross-builds the Windows programs into build/windows: update.exe, update-publish.exe and
# the test programs, statically linked against the Qt and OpenSSL of ../shared/windows-qt.
# Installs what it needs first (scripts/setup-windows.sh). Prints the build folder last.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-windows.sh >&2
shared=${WINDOWS_QT_DIR:-$(cd .. && pwd)/shared/windows-qt}
toolchain=$shared/mingw-w64.cmake
if [ ! -f "$toolchain" ]; then
    echo "No CMake toolchain file at $toolchain" >&2
    exit 1
fi
dir=${BUILD_DIR:-build/windows}

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH=/opt/qt5-win64 \
    -DUPDATE_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" >&2
echo "$dir"
