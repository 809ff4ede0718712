#!/usr/bin/env bash
# Builds the MD5 list parser fuzzer with clang (libFuzzer, ASan, UBSan) into build/fuzz and
# runs it for SECONDS (default 60). Exits non-zero when the fuzzer finds a crash.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
out=build/fuzz
bash scripts/setup-deps.sh >&2
mkdir -p "$out"

# Kept apart from the main tree, which is built with g++.
clang++ -std=c++17 -g -O1 -fPIC -fno-omit-frame-pointer \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -Imanifest -Ifiles $(pkg-config --cflags Qt5Core) \
    fuzz/fuzz_manifest.cpp manifest/manifest.cpp manifest/pathrules.cpp \
    manifest/updatenames.cpp manifest/windowsnames.cpp files/fileops.cpp files/fileops_posix.cpp \
    $(pkg-config --libs Qt5Core) -o "$out/fuzz_manifest"

# Work on a copy so the committed seeds stay as they are.
rm -rf "$out/corpus"
cp -r fuzz/corpus "$out/corpus"
"$out/fuzz_manifest" -max_total_time="$seconds" -max_len=8192 -timeout=10 \
    -artifact_prefix="$out/" "$out/corpus"
echo "fuzz_manifest: ran ${seconds}s without a crash"
