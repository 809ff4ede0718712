#!/bin/bash
# What checking each staged new file costs a 1 GiB update: the real `update console` applying a
# 1 GiB file that is already in the cache (only update.ini and md5.txt come from nginx), next to
# the same updater built without that one check (the staged file's size, MD5 and SHA-256 read
# again just before it is renamed over the installed file), alternating, BENCH_PAIRS pairs.
# Usage: bench/stagedcheck/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
SRC=$(cd "$(dirname "$0")/../.." && pwd)
SIZE_MIB=${BENCH_WORKER_SIZE_MIB:-1024}
[ -x "$BUILD/app/update" ] || { echo "no updater in $BUILD" >&2; exit 1; }
source "$(dirname "$0")/../lib.sh"
source "$SRC/scripts/nginx-lib.sh"
bench_workdir stagedcheck
WORK=$work
cleanup() {
    stop_nginx
    rm -rf "$WORK"
}
trap cleanup EXIT

# The baseline: this source with the check taken out, built beside it.
mkdir -p "$WORK/src"
(cd "$SRC" && git ls-files -z | xargs -0 cp --parents -t "$WORK/src")
python3 - "$WORK/src/apply/entryswap.cpp" <<'PY'
import sys
path = sys.argv[1]
text = open(path).read()
check = "if (!isNewFile(m_staged)) {"
if check not in text:
    sys.exit("the staged check is not where this script expects it")
open(path, "w").write(text.replace(check, "if (false) {"))
PY
cmake -S "$WORK/src" -B "$WORK/baseline" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$WORK/baseline" --target update >/dev/null

mkdir -p "$WORK/prefix/tmp" "$WORK/ours" "$WORK/base"
make_one_file_release "$WORK/root" $((SIZE_MIB * 1024 * 1024))
FILE=$WORK/root/v2/big.bin
head -c 1024 /dev/urandom >"$WORK/previous.bin"
start_nginx "$WORK/prefix" "$WORK/root" off
cp "$BUILD/app/update" "$WORK/ours/update"
cp "$WORK/baseline/app/update" "$WORK/base/update"
for side in ours base; do
    printf '[Update]\nURL=http://127.0.0.1:%s/\nCache=%s\n' "$nginx_port" "$WORK/$side/cache" \
        >"$WORK/$side/system.cfg"
done
# Each run: the new file verified in the cache, the previous one installed.
prepare() {
    echo "rm -rf '$WORK/$1/cache' '$WORK/$1/big.bin'* '$WORK/$1/update_md5.info' &&
          mkdir -p '$WORK/$1/cache' && cp '$FILE' '$WORK/$1/cache/big.bin' &&
          cp '$WORK/previous.bin' '$WORK/$1/big.bin'"
}
run() { echo "exec '$WORK/$1/update' console >'$WORK/$1/out' 2>&1"; }
load_before=$(load_now)
alternate "$bench_pairs" "$WORK/runs" "$(prepare ours)" "$(run ours)" "$(prepare base)" "$(run base)"
load_after=$(load_now)
cmp -s "$FILE" "$WORK/ours/big.bin" && installed=yes || installed=NO
pair_difference "$WORK/runs/ours" "$WORK/runs/base" "$WORK/runs/diff"

echo "### Staged check: applying one ${SIZE_MIB} MiB file from the cache, with and without it"
echo
echo "Both sides alternate in one run ($bench_pairs pairs), each after putting the new file in the"
echo "cache and the previous one in the installation, and a \`sync\`; load average $load_before"
echo "before, $load_after after. Each run is a whole \`update console\`: update.ini and md5.txt"
echo "from nginx, the cached file's check, the apply and the commit."
echo
echo "| measure | with the check | without | with / without | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "${SIZE_MIB} MiB apply, wall time" "$WORK/runs/ours" "$WORK/runs/base" 1 - -
ratio_row "same, CPU time" "$WORK/runs/ours" "$WORK/runs/base" 2 - -
echo
echo "| measure | all pairs | figure | target | |"
echo "| --- | --- | --- | --- | --- |"
echo "| what the check adds, wall time per pair | $(spread "$WORK/runs/diff" 1) | | none | |"
echo "| installed file equals the served one | $installed | | | |"
