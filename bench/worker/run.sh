#!/bin/bash
# Console update of one 1 GiB file from a local nginx: peak memory and total time of the
# real `update console`, next to `curl -o FILE URL && md5sum FILE` on the same file, alternating,
# BENCH_PAIRS pairs (default 5).
# Usage: bench/worker/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
UPDATE=$BUILD/app/update
SIZE_MIB=${BENCH_WORKER_SIZE_MIB:-1024}
[ -x "$UPDATE" ] || { echo "no updater at $UPDATE" >&2; exit 1; }
source "$(dirname "$0")/../lib.sh"

WORK=$(mktemp -d /tmp/bench-worker.XXXXXX)
source "$(dirname "$0")/../../scripts/nginx-lib.sh"
cleanup() {
    stop_nginx
    rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"
mkdir -p "$WORK/prefix/tmp" "$WORK/app"
make_one_file_release "$WORK/root" $((SIZE_MIB * 1024 * 1024))
FILE=$WORK/root/v2/big.bin

start_nginx "$WORK/prefix" "$WORK/root" off
PORT=$nginx_port

cp "$UPDATE" "$WORK/app/update"
printf '[Update]\nURL=http://127.0.0.1:%s/\nCache=%s\n' "$PORT" "$WORK/cache" >"$WORK/app/system.cfg"

# Ours after an empty cache and an installation without the file; curl after removing its copy.
fresh_install="rm -rf '$WORK/cache' '$WORK/app/big.bin' '$WORK/app/big.bin.old' '$WORK/app/update_md5.info' '$WORK/curl.bin'"
load_before=$(load_now)
alternate "$bench_pairs" "$WORK/runs" "$fresh_install" \
    "QT_QPA_PLATFORM=offscreen exec '$WORK/app/update' console >'$WORK/update.out' 2>&1" \
    "rm -rf '$WORK/cache' '$WORK/app/big.bin' '$WORK/curl.bin'" \
    "curl -s -o '$WORK/curl.bin' 'http://127.0.0.1:$PORT/v2/big.bin' && md5sum '$WORK/curl.bin' >/dev/null"
load_after=$(load_now)
cmp -s "$FILE" "$WORK/curl.bin" || { echo "curl did not fetch the file" >&2; exit 1; }
bash -c "$fresh_install"
"$WORK/app/update" console >"$WORK/update.out" 2>&1 || true
cmp -s "$FILE" "$WORK/app/big.bin" && installed=yes || installed=NO

mibps() { awk -v s="$SIZE_MIB" -v ms="$(stat_of "$1" 1 median)" 'BEGIN { printf "%.0f", s / ms * 1000 }'; }
echo "### Download worker: console update of one ${SIZE_MIB} MiB file from nginx on 127.0.0.1"
echo
echo "Both sides alternate in one run ($bench_pairs pairs), each after removing what the previous"
echo "run wrote and a \`sync\`; load average $load_before before, $load_after after. The updater's"
echo "time covers the whole process (description, list, download, digest, durable write, move)."
echo
echo "| measure | \`update console\` | curl -o + md5sum | update / curl | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "$SIZE_MIB MiB update, wall time" "$WORK/runs/ours" "$WORK/runs/base" 1 "<=" 0.8
echo "| same, CPU time | $(spread "$WORK/runs/ours" 2) | $(spread "$WORK/runs/base" 2) | $(pair_ratio "$WORK/runs/ours" "$WORK/runs/base" 2 | cut -d' ' -f1) | | |"
echo "| throughput (median) | $(mibps "$WORK/runs/ours") MiB/s | $(mibps "$WORK/runs/base") MiB/s | | | |"
echo "| installed file equals the served one | $installed | | | | |"
echo
echo "| measure | all runs | figure | target | |"
echo "| --- | --- | --- | --- | --- |"
value_row "$SIZE_MIB MiB update, peak memory" "$WORK/runs/ours" 3 "<=" 48 MiB max
