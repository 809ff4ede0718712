#!/usr/bin/env bash
# Many small files over a slow link: 2,000 files of 8 KiB from nginx on 127.0.0.1 through
# bench/latency/latencyproxy.py, which adds a round trip of BENCH_RTT_MS (default 50 ms).
#  - the real `update console` with "Connections=N" in system.cfg (BENCH_CONNECTIONS, default 6;
#    0 leaves the key out), alternating with `curl --parallel --parallel-max N` on the same URLs,
#    BENCH_PAIRS pairs (default 5): the target is update <= curl;
#  - `curl` fetching the same URLs one after another in one process, BENCH_LATENCY_SEQUENTIAL
#    runs (default 1; about 100 s each), for reference.
# Usage: bench/latency/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
publish=$build/tools/publish/update-publish
files=${BENCH_LATENCY_FILES:-2000}
rtt=${BENCH_RTT_MS:-50}
connections=${BENCH_CONNECTIONS:-6}
sequential_runs=${BENCH_LATENCY_SEQUENTIAL:-1}
for tool in "$updater" "$publish"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib.sh"
source "$here/../../scripts/nginx-lib.sh"

bench_workdir latency
cleanup() {
    stop_latency_proxy
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT

make_release "$work/release" "$files" 8192
"$publish" "$work/release" "$work/root/u" --folder v1 --optional >/dev/null
start_nginx "$work/nginx" "$work/root" off "keepalive_requests 100000;"

start_latency_proxy "$nginx_port"
url="http://127.0.0.1:$proxy_port/u/"

install_with() { # folder
    rm -rf "$1" "$1-cache"
    mkdir -p "$1"
    cp "$updater" "$1/update"
    printf '[Update]\nURL=%s\nCache=%s\n' "$url" "$1-cache" >"$1/system.cfg"
    if [ "$connections" != 0 ]; then printf 'Connections=%s\n' "$connections" >>"$1/system.cfg"; fi
}
export -f install_with
export updater url connections

(cd "$work/release" && find . -type f | sed 's|^\./||' | sort) |
    awk -v base="${url}v1/" -v out="$work/curl-out" \
        '{ printf "url = \"%s%s\"\noutput = \"%s/%s\"\n", base, $0, out, $0 }' >"$work/curl.cfg"
curl_cmd="exec curl -s --fail --create-dirs --config '$work/curl.cfg'"
parallel=$connections
[ "$parallel" = 0 ] && parallel=1

# The round trip as curl sees it: the second of two requests on one connection.
measured_rtt=$(curl -s -o /dev/null -o /dev/null -w '%{time_total}\n' "${url}update.ini" "${url}update.ini" |
    tail -n 1 | awk '{ printf "%.1f", $1 * 1000 }')

load_before=$(load_now)
alternate "$bench_pairs" "$work/parallel" \
    "install_with '$work/i'" "cd '$work/i' && exec ./update console >/dev/null" \
    "rm -rf '$work/curl-out'" "exec curl -s --no-progress-meter --fail --create-dirs --parallel --parallel-max $parallel --config '$work/curl.cfg'"
diff -r "$work/release" "$work/curl-out" >/dev/null && parallel_ok=yes || parallel_ok=NO
install_with "$work/i"
(cd "$work/i" && ./update console >/dev/null)
diff -r -x system.cfg -x update_md5.info -x update "$work/release" "$work/i" >/dev/null &&
    installed=yes || installed=NO
repeat_runs "$sequential_runs" "$work/sequential" "rm -rf '$work/curl-out'" "$curl_cmd"
load_after=$(load_now)

echo "### Latency: $files files of 8 KiB over a link with $rtt ms round-trip time"
echo
echo "nginx on 127.0.0.1 behind bench/latency/latencyproxy.py (each direction held back by half"
echo "the round trip, a new connection by one round trip; measured: $measured_rtt ms for one request"
echo "on an open connection). \"system.cfg\" carries Connections=$connections (0: no key). Updater"
echo "and curl alternate in one run ($bench_pairs pairs), each after a fresh installation or output"
echo "folder and a \`sync\`; load average $load_before before, $load_after after."
echo
echo "| $files x 8 KiB, $rtt ms RTT | update, Connections=$connections | curl --parallel --parallel-max $parallel | update / curl | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "$files files over $rtt ms RTT, Connections=$connections" "$work/parallel/ours" "$work/parallel/base" 1 "<=" 1.0
echo "| result equals the release (diff -r) | $installed | $parallel_ok | | | |"
echo
echo "| reference | time |"
echo "| --- | --- |"
echo "| curl, one process, one file after another | $(spread "$work/sequential" 1) |"
echo "| floor for one request at a time: files x measured round trip | $(awk -v n="$files" -v r="$measured_rtt" 'BEGIN { printf "%.0f ms", n * r }') |"
