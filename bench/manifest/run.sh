#!/usr/bin/env bash
# Manifest benchmark: hashing throughput against coreutils md5sum on the same files (warm
# cache), peak memory while hashing a 1 GiB file, and parsing plus comparing a 100,000-line
# list whose record holds every path. Usage: run.sh BUILD_DIR (e.g. build/release).
set -euo pipefail

build=${1:?usage: run.sh BUILD_DIR}
bench=$(cd "$build" && pwd)/bench/manifest/bench_manifest
[ -x "$bench" ] || { echo "missing $bench: build the bench_manifest target first" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-manifest.XXXXXX")
trap 'rm -rf "$work"' EXIT

# "wall cpu" seconds of one command; its standard output goes to $1.
timed() {
    local out=$1 TIMEFORMAT='%R %U %S' t
    shift
    t=$({ time "$@" >"$out" 2>/dev/null; } 2>&1)
    awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$t"
}
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
mbps() { awk -v n="$total_bytes" -v t="$1" 'BEGIN { printf "%.0f", n / t / 1e6 }'; }
pct() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", 100 * a / b }'; }

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

# Side by side, alternating, best of 3 for wall and for CPU time (user + system).
ours_wall=() ours_cpu=() md5_wall=() md5_cpu=()
for _ in 1 2 3; do
    read -r w c < <(timed "$work/theirs.txt" md5sum "${files[@]}")
    md5_wall+=("$w") md5_cpu+=("$c")
    read -r w c < <(timed "$work/ours.txt" "$bench" hash "${files[@]}")
    ours_wall+=("$w") ours_cpu+=("$c")
done
t_ours=$(best "${ours_wall[@]}") t_md5=$(best "${md5_wall[@]}")
c_ours=$(best "${ours_cpu[@]}") c_md5=$(best "${md5_cpu[@]}")

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
    for i in 1 2 3; do
        "$bench" "$mode" 100000 "$work/empty" >"$work/cmp"
        parse+=("$(awk '/^parse_ms/ {print $2}' "$work/cmp")")
        total+=("$(awk '/^total_ms/ {print $2}' "$work/cmp")")
        cpu+=("$(awk '/^total_cpu_ms/ {print $2}' "$work/cmp")")
    done
    local entries outdated
    entries=$(awk '/^entries/ {print $2}' "$work/cmp")
    outdated=$(awk '/^outdated/ {print $2}' "$work/cmp")
    echo "| $label | $entries | $outdated | $(best "${parse[@]}") ms | $(best "${total[@]}") ms | $(best "${cpu[@]}") ms |"
}
opens="n/a (no strace)"
if command -v strace >/dev/null; then
    strace -f -qq -e trace=open,openat,stat,lstat,statx,newfstatat -o "$work/trace" \
        "$bench" compare 100000 "$work/empty" >/dev/null
    opens=$(grep -F "$work/empty/" "$work/trace" | grep -vc 'update_md5.info' || true)
fi

echo "### Manifest: hashing and comparison"
echo
echo "Hashing ${#files[@]} files, $((total_bytes >> 20)) MiB in all, warm cache, both tools run"
echo "alternately in one go, best of 3. The machine is shared: CPU time is the steadier figure."
echo
echo "| measurement | update (fileDigestText) | coreutils md5sum | update / md5sum |"
echo "| --- | --- | --- | --- |"
echo "| throughput by wall time | $(mbps "$t_ours") MB/s (${t_ours} s) | $(mbps "$t_md5") MB/s (${t_md5} s) | $(pct "$t_md5" "$t_ours") % (target >= 95 %) |"
echo "| throughput by CPU time | $(mbps "$c_ours") MB/s (${c_ours} s) | $(mbps "$c_md5") MB/s (${c_md5} s) | $(pct "$c_md5" "$c_ours") % (target >= 95 %) |"
echo "| peak memory, 1 GiB file, /usr/bin/time | ${rss_time} KiB | ${rss_md5} KiB | target < 65536 KiB |"
echo "| peak memory, 1 GiB file, getrusage | ${rss_self} KiB | | |"
echo "| digests agree with md5sum | ${agree} | | |"
echo
echo "Parsing a 100,000-line list and comparing it with an \"update_md5.info\" that records every"
echo "path, in an install folder that holds none of the files (best of 3)."
echo
echo "| list order | entries | in result | parseManifest | parse + compareWithInstalled | CPU time of both |"
echo "| --- | --- | --- | --- | --- | --- |"
compare_row compare "path order (as a tree walk writes it)"
compare_row compare-shuffled "random order"
echo
echo "Installed files opened or looked up during the path-order run (strace): ${opens}."
