#!/usr/bin/env bash
# Trust benchmark: what the checks of a signed release cost per run. SHA-256 throughput against
# coreutils sha256sum on the same files (warm cache, alternating, BENCH_PAIRS pairs), and the
# description, list and per-file checks timed in-process. Usage: run.sh BUILD_DIR.
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

build=${1:?usage: run.sh BUILD_DIR}
bench=$(cd "$build" && pwd)/bench/trust/bench_trust
[ -x "$bench" ] || { echo "missing $bench: build the bench_trust target first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-trust.XXXXXX")
trap 'rm -rf "$work"' EXIT

# Two 128 MiB files and 100 files of mixed sizes up to 4 MiB, read once into the page cache.
mkdir -p "$work/install"
head -c $((16 << 20)) /dev/urandom >"$work/block"
for n in 1 2; do for _ in $(seq 8); do cat "$work/block"; done >"$work/install/large$n.bin"; done
for i in $(seq 100); do
    head -c $(((i * 40009) % (4 << 20) + 1)) "$work/block" >"$work/install/f$i.bin"
done
files=("$work"/install/*.bin)
total=$(cat "${files[@]}" | wc -c)

load_before=$(load_now)
alternate "$bench_pairs" "$work/hash" true "exec '$bench' hash ${files[*]} >'$work/ours.txt'" \
    true "exec sha256sum ${files[*]} >'$work/theirs.txt'"
load_after=$(load_now)
cmp -s "$work/ours.txt" "$work/theirs.txt" || { echo "SHA-256 differs from sha256sum" >&2; exit 1; }
mbps() { awk -v n="$total" -v ms="$(stat_of "$1" 1 median)" 'BEGIN { printf "%.0f", n / ms / 1e3 }'; }

"$bench" checks 2000 >"$work/checks.txt"
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/checks.txt"; }

echo "### trust: the checks of a signed release"
echo
echo "SHA-256 of ${#files[@]} files, $((total >> 20)) MiB, warm cache, same digests as sha256sum;"
echo "both alternate in one run ($bench_pairs pairs, ours first in each); load average $load_before"
echo "before, $load_after after. No target is set for this figure; above 1, ours is faster."
echo
echo "| | sha256sum | fileSha256Hex (libcrypto EVP, 1 MiB reads) | sha256sum / ours | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "SHA-256 throughput, wall time" "$work/hash/base" "$work/hash/ours" 1 - -
echo "| throughput (median wall) | $(mbps "$work/hash/base") MB/s | $(mbps "$work/hash/ours") MB/s | | | |"
echo
echo "Per run, in-process (mean of repeated calls):"
echo
echo "| check | time |"
echo "| --- | --- |"
echo "| signature: two-line update.ini.sig, the configured key's line verified | $(value signature) µs |"
echo "| [Release] read from the stored update.ini, Sequence and Expires | $(value release) µs |"
echo "| sha256.txt of 2,000 files ($(value listbytes) bytes): hash against Sha256List and parse | $(value list) µs |"
echo "| one file's SHA-256 looked up in that list | $(value file) µs |"
