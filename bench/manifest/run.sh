#!/usr/bin/env bash
# Manifest benchmark: hashing throughput against coreutils md5sum on the same files (warm
# cache, alternating, BENCH_PAIRS pairs), peak memory while hashing a 1 GiB file, and parsing
# plus comparing a 100,000-line list whose record holds every path.
# Usage: run.sh BUILD_DIR (e.g. build/release).
set -euo pipefail
source "$(dirname "$0")/../lib.sh"

build=${1:?usage: run.sh BUILD_DIR}
bench=$(cd "$build" && pwd)/bench/manifest/bench_manifest
[ -x "$bench" ] || { echo "missing $bench: build the bench_manifest target first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-manifest.XXXXXX")
trap 'rm -rf "$work"' EXIT

best() { printf '%s\n' "$@" | sort -g | head -n 1; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
mbps() { awk -v n="$total_bytes" -v ms="$1" 'BEGIN { printf "%.0f", n / ms / 1e3 }'; }

# Data: a 1 GiB file for the memory figure; for throughput two 128 MiB files and 100 files
# of mixed sizes up to 4 MiB. Everything is read once so that the page cache holds it.
mkdir -p "$work/install" "$work/big"
head -c $((16 << 20)) /dev/urandom >"$work/block"
big=$work/big/big.bin
for _ in $(seq 64); do cat "$work/block"; done >"$big"
for n in 1 2; do head -c $((128 << 20)) "$big" >"$work/install/large$n.bin"; done
for i in $(seq 100); do
    head -c $(((i * 40009) % (4 << 20) + 1)) "$work/block" >"$work/install/f$i.bin"
done
files=("$work"/install/*.bin)
total_bytes=$(cat "${files[@]}" | wc -c)
cat "${files[@]}" "$big" >/dev/null

# Side by side, alternating: ours, md5sum, ours, md5sum, ...
load_before=$(load_now)
alternate "$bench_pairs" "$work/hash" true "exec '$bench' hash ${files[*]} >'$work/ours.txt'" \
    true "exec md5sum ${files[*]} >'$work/theirs.txt'"

# Same digests as md5sum, once each 4-byte word's bytes are reversed.
awk '{print $1}' "$work/ours.txt" >"$work/ours"
awk '{ s = ""; for (w = 0; w < 4; ++w) for (b = 3; b >= 0; --b)
    s = s substr($1, w * 8 + b * 2 + 1, 2); print s }' "$work/theirs.txt" >"$work/theirs"
cmp -s "$work/ours" "$work/theirs" && agree="yes, all ${#files[@]}" || agree=NO

# Peak memory while hashing the 1 GiB file alone.
rss_self=n/a rss_time=n/a rss_md5=n/a
if [ -x /usr/bin/time ]; then
    /usr/bin/time -f 'RSS %M' "$bench" hash "$big" 2>"$work/rss" >/dev/null
    rss_time=$(awk '/^RSS/ {print $2}' "$work/rss")
    rss_self=$(awk '/^maxrss_kib/ {print $2}' "$work/rss")
    rss_md5=$(/usr/bin/time -f 'RSS %M' md5sum "$big" 2>&1 >/dev/null | awk '/^RSS/ {print $2}')
else
    rss_self=$("$bench" hash "$big" 2>&1 >/dev/null | awk '/^maxrss_kib/ {print $2}')
fi

# 100,000 lines against a record of every path, in a folder that holds none of the files:
# any installed file looked at would be missing and land in the result.
mkdir -p "$work/empty"
compare_row() {
    local mode=$1 label=$2 parse=() total=() cpu=() i
    for ((i = 0; i < bench_pairs; ++i)); do
        "$bench" "$mode" 100000 "$work/empty" >"$work/cmp"
        parse+=("$(awk '/^parse_ms/ {print $2}' "$work/cmp")")
        total+=("$(awk '/^total_ms/ {print $2}' "$work/cmp")")
        cpu+=("$(awk '/^total_cpu_ms/ {print $2}' "$work/cmp")")
    done
    local entries outdated
    entries=$(awk '/^entries/ {print $2}' "$work/cmp")
    outdated=$(awk '/^outdated/ {print $2}' "$work/cmp")
    echo "| $label | $entries | $outdated | $(median "${parse[@]}") ms | $(median "${total[@]}") ms ($(best "${total[@]}")-$(printf '%s\n' "${total[@]}" | sort -g | tail -n 1)) | $(median "${cpu[@]}") ms |"
}
opens="n/a (no strace)"
if command -v strace >/dev/null; then
    strace -f -qq -e trace=open,openat,stat,lstat,statx,newfstatat -o "$work/trace" \
        "$bench" compare 100000 "$work/empty" >/dev/null
    opens=$(grep -F "$work/empty/" "$work/trace" | grep -vc 'update_md5.info' || true)
fi

load_after=$(load_now)
echo "### Manifest: hashing and comparison"
echo
echo "Hashing ${#files[@]} files, $((total_bytes >> 20)) MiB in all, warm cache; md5sum and update's"
echo "fileDigestText alternate in one run ($bench_pairs pairs, ours first in each); load average"
echo "$load_before before, $load_after after. The ratio is md5sum's time over ours: above 1, ours is faster."
echo
echo "| measurement | md5sum | update (fileDigestText) | md5sum / update | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "hashing throughput, wall time" "$work/hash/base" "$work/hash/ours" 1 ">=" 1.0
ratio_row "hashing throughput, CPU time" "$work/hash/base" "$work/hash/ours" 2 ">=" 1.0
echo "| throughput (median wall) | $(mbps "$(stat_of "$work/hash/base" 1 median)") MB/s | $(mbps "$(stat_of "$work/hash/ours" 1 median)") MB/s | | | |"
echo "| peak memory, 1 GiB file, /usr/bin/time | ${rss_md5} KiB | ${rss_time} KiB | | < 65536 KiB | |"
echo "| peak memory, 1 GiB file, getrusage | | ${rss_self} KiB | | | |"
echo "| digests agree with md5sum | | ${agree} | | | |"
echo
echo "Parsing a 100,000-line list and comparing it with an \"update_md5.info\" that records every"
echo "path, in an install folder that holds none of the files (median of $bench_pairs, min-max)."
echo
echo "| list order | entries | in result | parseManifest | parse + compareWithInstalled | CPU time of both |"
echo "| --- | --- | --- | --- | --- | --- |"
compare_row compare "path order (as a tree walk writes it)"
compare_row compare-shuffled "random order"
echo
echo "Installed files opened or looked up during the path-order run (strace): ${opens}."
