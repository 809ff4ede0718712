#!/usr/bin/env bash
# What signing costs a whole run: real `update console` processes apply the same signed
# 2,000-file release (8 KiB each) from nginx on 127.0.0.1, once as a client without
# "PublicKey" and once as a client with it, alternating, a fresh installation and cache
# before every run. Also the SHA-256 of those files alone, per file.
# Usage: update.sh BUILD_DIR [ROUNDS] (e.g. build/release 15).
set -euo pipefail

build=$(cd "${1:?usage: update.sh BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-15}
updater=$build/app/update
publish=$build/tools/publish/update-publish
bench=$build/bench/trust/bench_trust
for tool in "$updater" "$publish" "$bench"; do
    [ -x "$tool" ] || { echo "missing $tool: build it first" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-trust-update.XXXXXX")
source "$(dirname "$0")/../../scripts/nginx-lib.sh"
trap 'stop_nginx; rm -rf "$work"' EXIT
chmod 755 "$work"
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

python3 - "$work/release" <<'PY'
import os, sys
for i in range(2000):
    folder = os.path.join(sys.argv[1], "data%02d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.bin" % i), "wb") as f:
        f.write(os.urandom(8192))
PY
"$publish" --keygen "$work/keys" >/dev/null
key=$(cat "$work/keys/update-signing.pub")
start_nginx "$work/nginx" "$work/root" off "keepalive_requests 100000;"
"$publish" "$work/release" "$work/root" --folder v1 --optional \
    --sign "$work/keys/update-signing.key" >/dev/null
url="http://127.0.0.1:$nginx_port/"

run_once() { # signed|unsigned -> milliseconds
    local dir=$work/install
    rm -rf "$dir" "$work/cache"
    mkdir -p "$dir"
    cp "$updater" "$dir/update"
    printf '[Update]\nURL=%s\nCache=%s\n' "$url" "$work/cache" >"$dir/system.cfg"
    [ "$1" = signed ] && printf 'PublicKey=%s\n' "$key" >>"$dir/system.cfg"
    sync
    local start=$(date +%s%N)
    (cd "$dir" && ./update console >"$work/report.json") || true
    local end=$(date +%s%N)
    grep -q '"success":true' "$work/report.json" && [ -f "$dir/data19/file01999.bin" ] ||
        { echo "the $1 run failed: $(cat "$work/report.json")" >&2; exit 1; }
    echo $(((end - start) / 1000000))
}

run_once unsigned >/dev/null # warm-up: page cache, nginx
unsigned=() signed=()
for _ in $(seq "$rounds"); do
    unsigned+=("$(run_once unsigned)")
    signed+=("$(run_once signed)")
done

stats() { # values -> "median min max"
    printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END {
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%s %s %s", m, v[1], v[NR] }'
}
read -r um umin umax <<<"$(stats "${unsigned[@]}")"
read -r sm smin smax <<<"$(stats "${signed[@]}")"

files=$(find "$work/release" -type f | sort)
hash_ms=()
for _ in 1 2 3; do
    s=$(date +%s%N)
    "$bench" hash $files >/dev/null
    hash_ms+=($((($(date +%s%N) - s) / 1000000)))
done
read -r hm _ _ <<<"$(stats "${hash_ms[@]}")"

echo "### trust: a signed against an unsigned update, 2,000 files of 8 KiB"
echo
echo "Real \`update console\` processes (optional update: no window), nginx on 127.0.0.1, the same"
echo "signed release; $rounds rounds, alternating, a fresh installation and cache before each run."
echo
echo "| client | median | min | max |"
echo "| --- | --- | --- | --- |"
echo "| without PublicKey | $um ms | $umin ms | $umax ms |"
echo "| with PublicKey | $sm ms | $smin ms | $smax ms |"
echo
awk -v s="$sm" -v u="$um" -v h="$hm" 'BEGIN {
    printf "Difference of the medians: %d ms (%.1f %%), %.0f µs per file.\n", s - u, (s - u) * 100 / u, (s - u) * 1000 / 2000
    printf "SHA-256 of the 2,000 files alone (warm cache, median of 3): %d ms, %.0f µs per file.\n", h, h * 1000 / 2000 }'
