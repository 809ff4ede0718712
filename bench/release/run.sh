#!/usr/bin/env bash
# Release benchmarks with the real `update console` against a local nginx:
#  1. an update of 2,000 files of 8 KiB each, next to curl fetching the same 2,000 URLs in one
#     process (one command, one reused connection, each file written to disk), alternating,
#     BENCH_PAIRS pairs (default 5);
#  2. a run with nothing to do on an installation whose update_md5.info records 10,000 files.
# Usage: bench/release/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
publish=$build/tools/publish/update-publish
for tool in "$updater" "$publish"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
source "$(dirname "$0")/../lib.sh"

bench_workdir release
source "$(dirname "$0")/../../scripts/nginx-lib.sh"
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT

make_release "$work/release-2000" 2000 8192
make_release "$work/release-10000" 10000 64

start_nginx "$work/nginx" "$work/root" off "keepalive_requests 100000;"
port=$nginx_port

# One server root per scenario, each with its own update.ini.
publish_timed() { # release, root, folder -> seconds
    local start=$(date +%s%N)
    "$publish" "$1" "$2" --folder "$3" --optional >/dev/null
    echo $((($(date +%s%N) - start) / 1000000))
}
publish_2000_ms=$(publish_timed "$work/release-2000" "$work/root/u2000" v1)
publish_10000_ms=$(publish_timed "$work/release-10000" "$work/root/u10000" v1)

install_with() { # folder, url
    rm -rf "$1" "$1-cache"
    mkdir -p "$1"
    cp "$updater" "$1/update"
    printf '[Update]\nURL=%s\nCache=%s\n' "$2" "$1-cache" >"$1/system.cfg"
}
export -f install_with
export updater work port

# 1. The 2,000-file update: a fresh installation and cache before every run of ours, a fresh
# output folder before every run of curl.
url2000="http://127.0.0.1:$port/u2000/"
(cd "$work/release-2000" && find . -type f | sed 's|^\./||' | sort) |
    awk -v base="${url2000}v1/" -v out="$work/curl-out" \
        '{ printf "url = \"%s%s\"\noutput = \"%s/%s\"\n", base, $0, out, $0 }' >"$work/curl.cfg"
load_before=$(load_now)
alternate "$bench_pairs" "$work/u2000" \
    "install_with '$work/i2000' '$url2000'" "cd '$work/i2000' && exec ./update console >/dev/null" \
    "rm -rf '$work/curl-out'" "exec curl -s --fail --create-dirs --config '$work/curl.cfg'"
diff -r -x system.cfg -x update_md5.info -x update "$work/release-2000" "$work/i2000" >/dev/null &&
    installed="yes" || installed="NO"
diff -r "$work/release-2000" "$work/curl-out" >/dev/null && fetched="yes" || fetched="NO"

# 2. Nothing to do: an installation that was brought to this release by the updater itself.
url10000="http://127.0.0.1:$port/u10000/"
install_with "$work/i10000" "$url10000"
(cd "$work/i10000" && ./update console >/dev/null)
report=$(cd "$work/i10000" && ./update console || true)
recorded=$(grep -c . "$work/i10000/update_md5.info")
idle_runs=$((bench_pairs * 4))
# Its exit code says "no update" here, so it is not checked. The same command with `true`
# in place of the updater, alternating with it, measures what the harness itself adds
# (bash, /usr/bin/time, date: about 18 ms here); the figure is the difference, pair by pair.
idle="cd '$work/i10000' && { ./update console >/dev/null || true; }"
harness="cd '$work/i10000' && { true >/dev/null || true; }"
repeat_runs 3 "$work/idle-warmup" true "$idle"
alternate "$idle_runs" "$work/idle" true "$idle" true "$harness"
pair_difference "$work/idle/ours" "$work/idle/base" "$work/idle/own"
load_after=$(load_now)

echo "### Release: a whole update against curl, and a run with nothing to do"
echo
echo "Real \`update console\` processes (optional update: no window) against nginx on 127.0.0.1,"
echo "content published with update-publish. The updater's time covers the whole process:"
echo "update.ini, md5.txt, comparison, downloads with size and digest checks, writing to the cache"
echo "and moving into place. Both sides alternate in one run ($bench_pairs pairs), each after a fresh"
echo "installation or output folder and a \`sync\`; load average $load_before before, $load_after after."
echo "Wall time is what the targets are about; CPU time (user + system) moves less with the load."
echo
echo "| 2,000 files of 8 KiB | update | curl, one process | update / curl | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "2,000 x 8 KiB update, wall time" "$work/u2000/ours" "$work/u2000/base" 1 "<=" 1.5
echo "| same, CPU time | $(spread "$work/u2000/ours" 2) | $(spread "$work/u2000/base" 2) | $(pair_ratio "$work/u2000/ours" "$work/u2000/base" 2 | cut -d' ' -f1) | | |"
echo "| same, peak memory | $(spread "$work/u2000/ours" 3) | $(spread "$work/u2000/base" 3) | | | |"
echo "| result equals the release (diff -r) | $installed | $fetched | | | |"
echo
echo "| measurement | time | figure | target | |"
echo "| --- | --- | --- | --- | --- |"
value_row "nothing to do, $recorded files recorded" "$work/idle/own" 1 "<" 100 ms
echo "| the same with the harness's own time | $(spread "$work/idle/ours" 1) | harness alone $(spread "$work/idle/base" 1) | | |"
echo "| its report | \`$report\` | | | |"
echo "| update-publish, 2,000 files of 8 KiB | $publish_2000_ms ms | | | |"
echo "| update-publish, 10,000 files of 64 bytes | $publish_10000_ms ms | | | |"
