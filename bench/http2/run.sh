#!/usr/bin/env bash
# HTTP/2 over a slow link: nginx with TLS and HTTP/2 (a test authority made here with the
# openssl CLI) on 127.0.0.1 behind bench/latency/latencyproxy.py (BENCH_RTT_MS, default 50),
# the real `update console` with "CaFile" naming that authority.
#  - 2,000 files of 8 KiB: Http2=true with Connections=100 against
#    `curl --http2 --parallel --parallel-max 100` (target <= 2x), and against the updater over
#    HTTP/1.1 with Connections=6 (target <= 0.35x; BENCH_HTTP2_SLOW_PAIRS pairs, default 3,
#    about 19 s a run);
#  - one file of BENCH_HTTP2_BIG_MIB (default 1024) MiB: Http2=true against the updater over
#    HTTP/1.1 (target within 10 %), against `curl --http2 -o F && md5sum F && sync -f F` and
#    against the same without the sync (BENCH_HTTP2_BIG_PAIRS pairs each, default 3).
# Usage: bench/http2/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
publish=$build/tools/publish/update-publish
loop=$build/bench/overhead/fetch_loop
files=${BENCH_HTTP2_FILES:-2000}
rtt=${BENCH_RTT_MS:-50}
big_mib=${BENCH_HTTP2_BIG_MIB:-1024}
slow_pairs=${BENCH_HTTP2_SLOW_PAIRS:-3}
big_pairs=${BENCH_HTTP2_BIG_PAIRS:-3}
for tool in "$updater" "$publish" "$loop"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib.sh"
source "$here/../../scripts/nginx-lib.sh"

bench_workdir http2
cleanup() {
    stop_latency_proxy
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT

# A test authority and a certificate for 127.0.0.1 signed by it.
pki=$work/pki
mkdir -p "$pki"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=bench http2 CA" \
    -keyout "$pki/ca.key" -out "$pki/ca.pem" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" \
    -keyout "$pki/server.key" -out "$pki/server.csr" 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\n' >"$pki/ext"
openssl x509 -req -in "$pki/server.csr" -CA "$pki/ca.pem" -CAkey "$pki/ca.key" \
    -CAcreateserial -days 2 -extfile "$pki/ext" -out "$pki/server.pem" 2>/dev/null

make_release "$work/release" "$files" 8192
"$publish" "$work/release" "$work/root/u" --folder v1 --optional >/dev/null
make_one_file_release "$work/root/big" $((big_mib * 1024 * 1024))
tls_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_nginx "$work/nginx" "$work/root" off "keepalive_requests 100000;
    server { listen 127.0.0.1:$tls_port ssl http2; root $work/root;
             ssl_certificate $pki/server.pem; ssl_certificate_key $pki/server.key; }"

start_latency_proxy "$tls_port"
base="https://127.0.0.1:$proxy_port"

install_with() { # folder url [system.cfg lines...]
    local folder=$1 url=$2
    shift 2
    rm -rf "$folder" "$folder-cache"
    mkdir -p "$folder"
    cp "$updater" "$folder/update"
    cp "$pki/ca.pem" "$folder/ca.pem"
    printf '[Update]\nURL=%s\nCache=%s\nCaFile=ca.pem\n' "$url" "$folder-cache" >"$folder/system.cfg"
    printf '%s\n' "$@" >>"$folder/system.cfg"
}
export -f install_with
export updater pki

(cd "$work/release" && find . -type f | sed 's|^\./||' | sort) |
    awk -v base="$base/u/v1/" -v out="$work/curl-out" \
        '{ printf "url = \"%s%s\"\noutput = \"%s/%s\"\n", base, $0, out, $0 }' >"$work/curl.cfg"
run_update="exec ./update console >/dev/null"
h2="Http2=true"

measured_rtt=$(curl -s --cacert "$pki/ca.pem" -o /dev/null -o /dev/null -w '%{time_total}\n' \
    "$base/u/update.ini" "$base/u/update.ini" | tail -n 1 | awk '{ printf "%.1f", $1 * 1000 }')
protocol=$(curl -s --http2 --cacert "$pki/ca.pem" -o /dev/null -w '%{http_version}' "$base/u/update.ini")

load_before=$(load_now)
alternate "$bench_pairs" "$work/small-curl" \
    "install_with '$work/i' '$base/u/' $h2 Connections=100" "cd '$work/i' && $run_update" \
    "rm -rf '$work/curl-out'" "exec curl -s --no-progress-meter --fail --http2 --cacert '$pki/ca.pem' --create-dirs --parallel --parallel-max 100 --config '$work/curl.cfg'"
diff -r "$work/release" "$work/curl-out" >/dev/null && curl_ok=yes || curl_ok=NO
diff -r -x system.cfg -x update_md5.info -x update -x ca.pem "$work/release" "$work/i" >/dev/null &&
    h2_ok=yes || h2_ok=NO
alternate "$slow_pairs" "$work/small-h1" \
    "install_with '$work/i' '$base/u/' $h2 Connections=100" "cd '$work/i' && $run_update" \
    "install_with '$work/i' '$base/u/' Connections=6" "cd '$work/i' && $run_update"
diff -r -x system.cfg -x update_md5.info -x update -x ca.pem "$work/release" "$work/i" >/dev/null &&
    h1_ok=yes || h1_ok=NO
load_middle=$(load_now)

big_url="$base/big/v2/big.bin"
curl_big="curl -s --fail --http2 --cacert '$pki/ca.pem' -o '$work/F' '$big_url' && md5sum '$work/F' >/dev/null"
alternate "$big_pairs" "$work/big-h1" \
    "install_with '$work/b' '$base/big/' $h2" "cd '$work/b' && $run_update" \
    "install_with '$work/b' '$base/big/'" "cd '$work/b' && $run_update"
cmp -s "$work/root/big/v2/big.bin" "$work/b/big.bin" && big_ok=yes || big_ok=NO
alternate "$big_pairs" "$work/big-sync" \
    "install_with '$work/b' '$base/big/' $h2" "cd '$work/b' && $run_update" \
    "rm -f '$work/F'" "$curl_big && sync -f '$work/F'"
alternate "$big_pairs" "$work/big-nosync" \
    "install_with '$work/b' '$base/big/' $h2" "cd '$work/b' && $run_update" \
    "rm -f '$work/F'" "$curl_big"
cmp -s "$work/root/big/v2/big.bin" "$work/F" && curl_big_ok=yes || curl_big_ok=NO
# Qt's own floor: the bare loop reading and hashing the file, HTTP/2 against HTTP/1.1.
printf '%s\tbig.bin\n' "$big_url" >"$work/big.tsv"
qt_big="'$loop' '$work/big.tsv' '$work/loop-out' --stream --hash --read-buffer 1048576 --ca '$pki/ca.pem'"
alternate "$big_pairs" "$work/big-qt" "true" "exec $qt_big --http2 >/dev/null" "true" "exec $qt_big >/dev/null"
load_after=$(load_now)

echo "### HTTP/2: $files files of 8 KiB and one $big_mib MiB file over https with $rtt ms round-trip time"
echo
echo "nginx on 127.0.0.1 (\`listen ... ssl http2\`, a test authority that \"CaFile\" names) behind"
echo "bench/latency/latencyproxy.py; measured: $measured_rtt ms for one request on an open connection,"
echo "curl's protocol $protocol. Each table alternates its two sides in one run, each run after a"
echo "fresh installation (or output file) and a \`sync\`; load average $load_before before,"
echo "$load_middle after the small files, $load_after at the end."
echo
echo "| $files x 8 KiB | ours | baseline | ours / baseline | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "$files files, Http2=true Connections=100 / curl --http2 --parallel-max 100" \
    "$work/small-curl/ours" "$work/small-curl/base" 1 "<=" 2.0
ratio_row "$files files, Http2=true Connections=100 / HTTP/1.1 Connections=6" \
    "$work/small-h1/ours" "$work/small-h1/base" 1 "<=" 0.35
echo "| result equals the release (diff -r): HTTP/2, curl, HTTP/1.1 | $h2_ok | $curl_ok, $h1_ok | | | |"
echo
echo "| $big_mib MiB file | ours, Http2=true | baseline | ours / baseline | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
ratio_row "$big_mib MiB, HTTP/2 / HTTP/1.1 (both the updater)" "$work/big-h1/ours" "$work/big-h1/base" 1 "<=" 1.1
ratio_row "$big_mib MiB, HTTP/2 / curl -o F && md5sum F && sync -f F" "$work/big-sync/ours" "$work/big-sync/base" 1 - -
ratio_row "$big_mib MiB, HTTP/2 / curl -o F && md5sum F" "$work/big-nosync/ours" "$work/big-nosync/base" 1 - -
ratio_row "$big_mib MiB, bare Qt loop (read, MD5): HTTP/2 / HTTP/1.1" "$work/big-qt/ours" "$work/big-qt/base" 1 - -
echo "| result equals the file (cmp): updater, curl | $big_ok | $curl_big_ok | | | |"
