#!/usr/bin/env bash
# Checks latencyproxy.py --rate-mbit with a short curl transfer: 2 MiB through the proxy at
# 20 Mbit/s (no added round trip) must take at least the line's time (0.84 s) and not twice it,
# and arrive whole. Serves the file with Python's http.server on 127.0.0.1. Not part of
# bench/run. Usage: bench/latency/ratecheck.sh
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/ratecheck.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
head -c $((2 << 20)) /dev/urandom >"$work/file.bin"
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work" >"$work/server.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    server_port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.out" | head -n 1)
    [ -n "$server_port" ] && break
    sleep 0.1
done
[ -n "$server_port" ] || { echo "http.server did not start" >&2; exit 1; }
python3 "$here/latencyproxy.py" --target "$server_port" --rtt-ms 0 --rate-mbit 20 \
    --lifetime-s 60 >"$work/proxy.out" &
pids+=($!)
for _ in $(seq 50); do
    proxy_port=$(awk '/^port/ { print $2 }' "$work/proxy.out")
    [ -n "$proxy_port" ] && break
    sleep 0.1
done
seconds=$(curl -s -o "$work/fetched.bin" -w '%{time_total}' "http://127.0.0.1:$proxy_port/file.bin")
cmp -s "$work/file.bin" "$work/fetched.bin" || { echo "FAIL: the file arrived changed" >&2; exit 1; }
awk -v s="$seconds" 'BEGIN { line = 2 * 1048576 * 8 / 20e6
    printf "2 MiB at 20 Mbit/s: %.3f s (the line alone: %.3f s)\n", s, line
    exit !(s >= line && s < 2 * line) }' || { echo "FAIL: not the line's rate" >&2; exit 1; }
echo "PASS"
