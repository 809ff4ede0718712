#!/usr/bin/env bash
# Trust benchmark: what the checks of a signed release cost per run. SHA-256 throughput against
# coreutils sha256sum on the same files (warm cache), and the description, list and per-file
# checks timed in-process. Usage: run.sh BUILD_DIR (e.g. build/release).
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR}
bench=$(cd "$build" && pwd)/bench/trust/bench_trust
[ -x "$bench" ] || { echo "missing $bench: build the bench_trust target first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-trust.XXXXXX")
trap 'rm -rf "$work"' EXIT

timed() {
    local out=$1 TIMEFORMAT='%R %U %S' t
    shift
    t=$({ time "$@" >"$out" 2>/dev/null; } 2>&1)
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$t"
}
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

# Two 128 MiB files and 100 files of mixed sizes up to 4 MiB, read once into the page cache.
mkdir -p "$work/install"
head -c $((16 << 20)) /dev/urandom >"$work/block"
for n in 1 2; do for _ in $(seq 8); do cat "$work/block"; done >"$work/install/large$n.bin"; done
for i in $(seq 100); do
    head -c $(((i * 40009) % (4 << 20) + 1)) "$work/block" >"$work/install/f$i.bin"
done
files=("$work"/install/*.bin)
total=$(cat "${files[@]}" | wc -c)

ours=() theirs=() ours_cpu=() theirs_cpu=()
for _ in 1 2 3; do
    read -r w c < <(timed "$work/theirs.txt" sha256sum "${files[@]}")
    theirs+=("$w") theirs_cpu+=("$c")
    read -r w c < <(timed "$work/ours.txt" "$bench" hash "${files[@]}")
    ours+=("$w") ours_cpu+=("$c")
done
cmp -s "$work/ours.txt" "$work/theirs.txt" || { echo "SHA-256 differs from sha256sum" >&2; exit 1; }
mbps() { awk -v n="$total" -v t="$1" 'BEGIN { printf "%.0f", n / t / 1e6 }'; }
t_ours=$(best "${ours[@]}") t_theirs=$(best "${theirs[@]}")

"$bench" checks 2000 >"$work/checks.txt"
value() { awk -v k="$1" '$1 == k { print $2 }' "$work/checks.txt"; }

echo "### trust: the checks of a signed release"
echo
echo "SHA-256 of ${#files[@]} files, $((total >> 20)) MiB, warm cache, best of 3 (same digests as sha256sum):"
echo
echo "| | wall | CPU | throughput |"
echo "| --- | --- | --- | --- |"
echo "| fileSha256Hex (libcrypto EVP, 1 MiB reads) | ${t_ours} s | $(best "${ours_cpu[@]}") s | $(mbps "$t_ours") MB/s |"
echo "| sha256sum | ${t_theirs} s | $(best "${theirs_cpu[@]}") s | $(mbps "$t_theirs") MB/s |"
echo
echo "Per run, in-process (mean of repeated calls):"
echo
echo "| check | time |"
echo "| --- | --- |"
echo "| signature: two-line update.ini.sig, the configured key's line verified | $(value signature) µs |"
echo "| [Release] read from the stored update.ini, Sequence and Expires | $(value release) µs |"
echo "| sha256.txt of 2,000 files ($(value listbytes) bytes): hash against Sha256List and parse | $(value list) µs |"
echo "| one file's SHA-256 looked up in that list | $(value file) µs |"
