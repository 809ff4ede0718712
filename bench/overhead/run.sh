#!/usr/bin/env bash
# Where the per-file time of an update goes: BENCH_OVERHEAD_FILES files of 8 KiB (default 500)
# from nginx on 127.0.0.1, fetched by curl, by a bare QNetworkAccessManager loop (fetch_loop)
# with the updater's settings and per-file steps added one at a time, and by `update console`.
# Each row is run BENCH_PAIRS times, the rows taking turns (median wall time), and once more
# under `strace -f -c` for the system-call counts, which do not depend on the machine's load.
# Usage: bench/overhead/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
publish=$build/tools/publish/update-publish
loop=$build/bench/overhead/fetch_loop
count=${BENCH_OVERHEAD_FILES:-500}
for tool in "$updater" "$publish" "$loop"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
command -v strace >/dev/null || { echo "needs strace (apt-get install strace)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib.sh"
source "$here/../../scripts/nginx-lib.sh"

bench_workdir overhead
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT

make_release "$work/release" "$count" 8192
"$publish" "$work/release" "$work/root/u" --folder v1 --optional >/dev/null
start_nginx "$work/nginx" "$work/root" off "keepalive_requests 100000;"
url="http://127.0.0.1:$nginx_port/u/"
(cd "$work/release" && find . -type f | sed 's|^\./||' | sort) >"$work/paths"
awk -v base="${url}v1/" '{ print base $0 "\t" $0 }' "$work/paths" >"$work/list.tsv"
awk -v base="${url}v1/" -v out="$work/out" \
    '{ printf "url = \"%s%s\"\noutput = \"%s/%s\"\n", base, $0, out, $0 }' "$work/paths" >"$work/curl.cfg"
printf '[Update]\nURL=%s\nCache=%s\n' "$url" "$work/i-cache" >"$work/system.cfg"

# Rows: label, command (run in $work after the output and installation are removed).
setup="--read-buffer 4194304 --redirect user --timeout 60000"
labels=(
    "curl, one process"
    "Qt loop, readAll at the end"
    "+ the updater's request setup (read buffer, redirects, time-out)"
    "+ body read in readyRead, MD5"
    "+ path look-ups, written to a temporary file and renamed"
    "+ QSaveFile: fdatasync and rename per file (all of the updater's steps)"
    "update console (the whole process)"
)
commands=(
    "curl -s --fail --create-dirs --config curl.cfg"
    "'$loop' list.tsv out"
    "'$loop' list.tsv out $setup"
    "'$loop' list.tsv out $setup --stream --hash"
    "'$loop' list.tsv out $setup --stream --hash --lookups --store rename"
    "'$loop' list.tsv out $setup --stream --hash --lookups --store savefile"
    "cd i && ./update console"
)
prepare="cd '$work' && rm -rf out i i-cache && mkdir i && cp '$updater' i/update && cp system.cfg i/"

load_before=$(load_now)
for ((round = 0; round < bench_pairs; ++round)); do
    for i in "${!commands[@]}"; do
        bash -c "$prepare" && sync
        timed_run "$work/row$i" "cd '$work' && ${commands[$i]} >/dev/null" || exit 1
    done
done
load_after=$(load_now)

# System calls per file, from one run of each row under strace.
calls() { # strace summary, names... -> calls per file
    awk -v n="$count" -v names=" ${*:2} " '
        index(names, " " $NF " ") { sum += $4 }
        END { printf "%.1f", sum / n }' "$1"
}
for i in "${!commands[@]}"; do
    bash -c "$prepare"
    (cd "$work" && strace -f -c -o "$work/strace$i" bash -c "${commands[$i]} >/dev/null")
done

per_file() { # file column -> per-file figure of the median
    awk -v v="$(stat_of "$1" "$2" median)" -v n="$count" 'BEGIN { printf "%.2f", v / n }'
}
echo "### Per-file overhead: where an update's time goes"
echo
echo "$count files of 8 KiB from nginx on 127.0.0.1. The Qt rows are bench/overhead/fetch_loop,"
echo "a bare QNetworkAccessManager loop, with the updater's settings and steps added row by row."
echo "Times: median of $bench_pairs runs per row, the rows taking turns, each after a \`sync\`; load"
echo "average $load_before before, $load_after after (wall and CPU times move with the load; the"
echo "counts do not). System calls: one run per row under \`strace -f -c\`, divided by $count"
echo "(a few dozen of them are the process's own start)."
echo
echo "| per file | wall ms | CPU ms | voluntary switches | read | write | poll | stat, access, open | fdatasync | rename, link | all calls |"
echo "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |"
for i in "${!commands[@]}"; do
    s=$work/strace$i
    echo "| ${labels[$i]} | $(per_file "$work/row$i" 1) | $(per_file "$work/row$i" 2) | $(per_file "$work/row$i" 4) |" \
        "$(calls "$s" read recvfrom) | $(calls "$s" write sendto) | $(calls "$s" poll ppoll) |" \
        "$(calls "$s" statx newfstatat stat lstat access openat) | $(calls "$s" fdatasync fsync) |" \
        "$(calls "$s" rename renameat renameat2 linkat) | $(calls "$s" total) |"
done
echo
echo "| $count files over HTTP/1.1 on loopback | update console | Qt loop, readAll at the end | ratio | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
last=$((${#commands[@]} - 1))
ratio_row "per-file cost, update console / bare Qt loop" "$work/row$last" "$work/row1" 1 "<=" 1.5
# The bare loop writes no file; the updater cannot do without: the same loop storing each file.
ratio_row "per-file cost, update console / Qt loop storing each file (temporary, rename)" \
    "$work/row$last" "$work/row4" 1 - -
