#!/bin/bash
# Console update of one 1 GiB file from a local nginx: peak memory and total time of the
# real `update console`, next to `curl -o FILE URL && md5sum FILE` on the same file.
# Usage: bench/worker/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
UPDATE=$BUILD/app/update
SIZE_MIB=${BENCH_WORKER_SIZE_MIB:-1024}
ROUNDS=${BENCH_WORKER_ROUNDS:-2}
[ -x "$UPDATE" ] || { echo "no updater at $UPDATE" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install -y time)" >&2; exit 1; }

WORK=$(mktemp -d /tmp/bench-worker.XXXXXX)
source "$(dirname "$0")/../../scripts/nginx-lib.sh"
cleanup() {
    stop_nginx
    rm -rf "$WORK"
}
trap cleanup EXIT
chmod 755 "$WORK"
mkdir -p "$WORK/root/v2" "$WORK/prefix/tmp" "$WORK/app"
FILE=$WORK/root/v2/big.bin
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >"$FILE"
chmod 644 "$FILE"

# The list: digest text (MD5 read as four little-endian words), size as low then high
# 32 bits, backslash path, CRLF.
python3 - "$FILE" "$(md5sum "$FILE" | cut -c1-32)" >"$WORK/root/v2/md5.txt" <<'PY'
import os, sys
path, hexmd5 = sys.argv[1], sys.argv[2]
raw = bytes.fromhex(hexmd5)
digest = "".join(raw[i:i + 4][::-1].hex() for i in range(0, 16, 4))
size = os.path.getsize(path)
sys.stdout.write("%s\t%08x%08x\t%s\r\n" % (digest, size & 0xffffffff, size >> 32, "big.bin"))
PY
printf '[Summary]\r\nUpdateType=0\r\n[Version]\r\nFolder=v2\r\nVersion=2.0\r\n' >"$WORK/root/update.ini"
chmod -R a+rX "$WORK/root"

start_nginx "$WORK/prefix" "$WORK/root" off
PORT=$nginx_port

cp "$UPDATE" "$WORK/app/update"
printf '[Update]\nURL=http://127.0.0.1:%s/\nCache=%s\n' "$PORT" "$WORK/cache" >"$WORK/app/system.cfg"

now() { date +%s.%N; }
best_update_s=; best_update_kb=; best_curl_s=; best_curl_kb=; exit_codes=
for _ in $(seq "$ROUNDS"); do
    rm -rf "$WORK/cache" "$WORK/app/big.bin" "$WORK/app/big.bin.old" "$WORK/app/update_md5.info"
    start=$(now)
    code=0
    QT_QPA_PLATFORM=offscreen /usr/bin/time -v -o "$WORK/update.time" \
        "$WORK/app/update" console >"$WORK/update.out" 2>&1 || code=$?
    seconds=$(echo "$(now) - $start" | bc)
    exit_codes="$exit_codes $code"
    cmp -s "$FILE" "$WORK/app/big.bin" || { echo "update did not install the file" >&2; cat "$WORK/update.out" >&2; exit 1; }
    kb=$(awk -F': ' '/Maximum resident/ {print $2}' "$WORK/update.time")
    if [ -z "$best_update_s" ] || [ "$(echo "$seconds < $best_update_s" | bc)" = 1 ]; then best_update_s=$seconds; fi
    if [ -z "$best_update_kb" ] || [ "$kb" -lt "$best_update_kb" ]; then best_update_kb=$kb; fi
    rm -rf "$WORK/cache" "$WORK/app/big.bin"

    start=$(now)
    /usr/bin/time -v -o "$WORK/curl.time" \
        sh -c "curl -s -o '$WORK/curl.bin' 'http://127.0.0.1:$PORT/v2/big.bin' && md5sum '$WORK/curl.bin' >/dev/null"
    seconds=$(echo "$(now) - $start" | bc)
    kb=$(awk -F': ' '/Maximum resident/ {print $2}' "$WORK/curl.time")
    if [ -z "$best_curl_s" ] || [ "$(echo "$seconds < $best_curl_s" | bc)" = 1 ]; then best_curl_s=$seconds; fi
    if [ -z "$best_curl_kb" ] || [ "$kb" -lt "$best_curl_kb" ]; then best_curl_kb=$kb; fi
    rm -f "$WORK/curl.bin"
done

mib() { echo "scale=1; $1 / 1024" | bc; }
ratio() { printf "%.2f" "$(echo "scale=3; $1 / $2" | bc)"; }
echo "### Download worker: console update of one ${SIZE_MIB} MiB file from nginx on 127.0.0.1"
echo
echo "Best of $ROUNDS rounds; update exit codes:${exit_codes}. Targets: peak memory under 64 MiB, time at most curl + md5sum."
echo
echo "| measure | \`update console\` | curl -o + md5sum | ratio (update / curl) | target |"
echo "| --- | ---: | ---: | ---: | --- |"
echo "| total time (s) | $(printf '%.2f' "$best_update_s") | $(printf '%.2f' "$best_curl_s") | $(ratio "$best_update_s" "$best_curl_s") | ≤ 1.00 |"
echo "| peak memory (MiB) | $(mib "$best_update_kb") | $(mib "$best_curl_kb") | $(ratio "$best_update_kb" "$best_curl_kb") | update < 64 |"
echo "| throughput (MiB/s) | $(echo "scale=0; $SIZE_MIB / $best_update_s" | bc) | $(echo "scale=0; $SIZE_MIB / $best_curl_s" | bc) | | |"
