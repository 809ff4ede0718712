#!/usr/bin/env bash
# Builds the fuzz targets of the parsers of outside input (fuzz/) with clang, libFuzzer, ASan
# and UBSan into build/fuzz, and runs them one after another for SECONDS in all (default 60,
# shared evenly). Exits non-zero when a target crashes or breaks an invariant; the input is
# kept as build/fuzz/<target>-crash-*.
# FUZZ_RUNS=N runs each target for N inputs instead of a time.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
targets=(manifest sha256 signature releasesection journal)
out=build/fuzz
bash scripts/setup-deps.sh >&2

# Apart from the main tree, which is built with g++: the libraries the targets link are
# built here again with clang and the sanitizers, and only those.
cmake -S . -B "$out" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
    -DCMAKE_CXX_FLAGS="-g -O1" -DUPDATE_BUILD_FUZZ=ON -DUPDATE_BUILD_TESTS=OFF \
    -DUPDATE_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" --target fuzzers

each=$((seconds / ${#targets[@]}))
[ "$each" -ge 1 ] || each=1
limit=(-max_total_time="$each")
[ -z "${FUZZ_RUNS:-}" ] || limit=(-runs="$FUZZ_RUNS")

# The release section is read from a file per input: a private folder for them, in memory
# where there is one.
shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
export TMPDIR=$(mktemp -d -p "$shm")
trap 'rm -rf "$TMPDIR"' EXIT

failed=()
for target in "${targets[@]}"; do
    # Work on a copy so the committed seeds stay as they are.
    rm -rf "$out/corpus/$target"
    mkdir -p "$out/corpus"
    cp -r "fuzz/corpus/$target" "$out/corpus/$target"
    # Leaks are looked for at the end of a run; after every input that leaves memory behind
    # would be 20 times slower for these two: QSettings caches what it read of each file, one
    # more per input, and Qt's JSON parser leaks on some repeated keys (see the file).
    run=(env LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan-qtcore.supp "$out/fuzz/fuzz_$target")
    case $target in
    releasesection | journal) run+=(-detect_leaks=0) ;;
    esac
    if "${run[@]}" "${limit[@]}" -max_len=8192 -timeout=10 \
        -artifact_prefix="$out/$target-" "$out/corpus/$target"; then
        echo "fuzz_$target: no crash"
    else
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: crashes in ${failed[*]} (inputs in $out)" >&2
    exit 1
fi
