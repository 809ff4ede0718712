#!/usr/bin/env bash
# The client's side of compressed copies and patches, with a real `update console` against a
# private nginx (bytes on the wire from its access log, $body_bytes_sent).
#
#   client.sh wire BUILD_DIR ROOT NAME TREE FOLDER [TREE FOLDER]...
#     ROOT is a server root whose update.ini names the newest release; each TREE/FOLDER pair is
#     an installation at that earlier version (its files, its md5.txt as the record). Per base:
#     the bytes fetched and the update's wall time through a 20 Mbit/s link (latencyproxy.py
#     --rate-mbit 20 --rtt-ms 20), with packed copies and with Patches=false in system.cfg,
#     alternating, BENCH_PAIRS pairs (default 5). Prints table rows.
#   client.sh memory BUILD_DIR
#     One file of BENCH_PATCHES_CLIENT_MIB MiB (default 1024; base64 text, so that it
#     compresses), a second version with 16 changed pieces of 64 KiB, published with
#     --compress --compress-level 3 --patch-from: the peak anonymous memory (RssAnon) of
#     `update console` decoding the patch, the compressed copy, and fetching the file whole,
#     against 64 MiB plus the window the frame states. Prints table rows.
set -euo pipefail
mode=${1:?usage: client.sh wire|memory BUILD_DIR ...}
build=$(cd "${2:?build folder}" && pwd)
shift 2
here=$(cd "$(dirname "$0")" && pwd)
update=$build/app/update
publish=$build/tools/publish/update-publish
source "$here/../lib.sh"
source "$here/../../scripts/nginx-lib.sh"
cwork=$(mktemp -d /var/tmp/bench-patches-client.XXXXXX)
proxy_pid=
cleanup() {
    [ -n "$proxy_pid" ] && kill "$proxy_pid" 2>/dev/null
    stop_nginx
    rm -rf "$cwork"
}
trap cleanup EXIT
chmod 755 "$cwork"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$cwork/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# install_at TREE RECORD [Patches=false]: the installation at that version, an empty cache.
install_at() {
    rm -rf "$cwork/app" "$cwork/cache"
    mkdir -p "$cwork/app"
    [ -n "$1" ] && cp -a "$1/." "$cwork/app/"
    [ -n "$2" ] && cp "$2" "$cwork/app/update_md5.info"
    cp "$update" "$cwork/app/update"
    printf '[Update]\nURL=http://127.0.0.1:%s/\nCache=%s\n%s' "$port" "$cwork/cache" \
        "${3:+$3
}" >"$cwork/app/system.cfg"
    : >"$cwork/access.log"
}

sent() { awk '{ s += $10 } END { print s + 0 }' "$cwork/access.log"; }

wire() {
    local root=$1 name=$2 tree folder
    shift 2
    start_nginx "$cwork/nginx" "$root" "$cwork/access.log"
    proxy_port_file=$cwork/proxy.out
    python3 "$here/../latency/latencyproxy.py" --target "$nginx_port" --rtt-ms 20 \
        --rate-mbit 20 --lifetime-s 3000 >"$proxy_port_file" &
    proxy_pid=$!
    for _ in $(seq 50); do grep -q '^port' "$proxy_port_file" && break; sleep 0.1; done
    port=$(awk '/^port/ { print $2 }' "$proxy_port_file")
    while [ $# -ge 2 ]; do
        tree=$1 folder=$2
        shift 2
        local dir=$cwork/runs-$folder
        alternate "$bench_pairs" "$dir" \
            "$(declare -f install_at); cwork='$cwork' port=$port update='$update'; install_at '$tree' '$root/$folder/md5.txt'" \
            "cd '$cwork/app' && ./update console >/dev/null 2>&1; awk '{ s += \$10 } END { print s + 0 }' '$cwork/access.log' >>'$dir/ours.bytes'" \
            "$(declare -f install_at); cwork='$cwork' port=$port update='$update'; install_at '$tree' '$root/$folder/md5.txt' Patches=false" \
            "cd '$cwork/app' && ./update console >/dev/null 2>&1; awk '{ s += \$10 } END { print s + 0 }' '$cwork/access.log' >>'$dir/base.bytes'"
        local ours base
        ours=$(sort -n "$dir/ours.bytes" | tail -n 1)
        base=$(sort -n "$dir/base.bytes" | tail -n 1)
        echo "| $name from $folder: bytes on the wire | $ours | $base | $(awk -v a="$ours" -v b="$base" 'BEGIN { printf "%.4f", a / b }') | | |"
        ratio_row "$name from $folder: update over 20 Mbit/s, wall time" "$dir/ours" "$dir/base" 1 - -
    done
}

# rss_run LABEL: one `update console` sampled; "LABEL peak_kib bytes" into rss.txt.
rss_run() {
    sync
    (cd "$cwork/app" && python3 "$here/rssanon.py" ./update console >"$cwork/rss.out" 2>"$cwork/rss.err") || true
    cmp -s "$cwork/r2/big.bin" "$cwork/app/big.bin" || { echo "$1: not installed" >&2; return 1; }
    echo "$1 $(grep -o 'rss_anon_peak_kib [0-9]*' "$cwork/rss.out" | cut -d' ' -f2) $(sent)" >>"$cwork/rss.txt"
}

memory() {
    local mib=${BENCH_PATCHES_CLIENT_MIB:-1024} i offset
    mkdir -p "$cwork/r1" "$cwork/r2" "$cwork/root"
    # The first head stops base64 early: no pipe failure for that.
    (set +o pipefail; head -c $((mib * 786432)) /dev/urandom | base64 -w 76 |
        head -c $((mib * 1048576))) >"$cwork/r1/big.bin"
    cp "$cwork/r1/big.bin" "$cwork/r2/big.bin"
    for i in $(seq 0 15); do
        offset=$((i * mib * 1048576 / 16 + 4096))
        (set +o pipefail; head -c 49152 /dev/urandom | base64 -w 76 | head -c 65536) |
            dd of="$cwork/r2/big.bin" bs=65536 seek="$offset" oflag=seek_bytes conv=notrunc status=none
    done
    "$publish" "$cwork/r1" "$cwork/root" --folder v1 >/dev/null
    "$publish" "$cwork/r2" "$cwork/root" --folder v2 --compress --compress-level 3 \
        --patch-from v1 >"$cwork/publish.out"
    chmod -R a+rX "$cwork/root"
    start_nginx "$cwork/nginx" "$cwork/root" "$cwork/access.log"
    port=$nginx_port
    for ((i = 0; i < bench_pairs; ++i)); do
        install_at "$cwork/r1" "$cwork/root/v1/md5.txt" && rss_run patch
        install_at "" "" && rss_run compressed
        install_at "$cwork/r1" "$cwork/root/v1/md5.txt" Patches=false && rss_run whole
    done
    local kind window packed label
    for kind in patch compressed whole; do
        packed=$(awk -F'\t' -v k="$([ $kind = patch ] && echo patch || echo zstd)" '$1 == k { print $5 }' "$cwork/root/v2/.~zstd/list.txt")
        window=0
        [ $kind != whole ] && window=$(zstd -lv "$cwork/root/v2/.~zstd/$packed.zst" 2>/dev/null |
            sed -n 's/^Window Size:.*(\([0-9]*\) B)$/\1/p' | awk '{ print $1 / 1024 }')
        label="$mib MiB file, $kind: peak RssAnon of update console (window $(awk -v w="$window" 'BEGIN { printf "%.0f", w / 1024 }') MiB)"
        awk -v k="$kind" '$1 == k { print $2 }' "$cwork/rss.txt" >"$cwork/rss-$kind"
        local peak bytes limit
        peak=$(stat_of "$cwork/rss-$kind" 1 max)
        bytes=$(awk -v k="$kind" '$1 == k { print $3 }' "$cwork/rss.txt" | sort -n | tail -n 1)
        limit=$(awk -v w="$window" 'BEGIN { printf "%.0f", 64 * 1024 + w }')
        local mib_peak mib_limit
        mib_peak=$(awk -v p="$peak" 'BEGIN { printf "%.1f", p / 1024 }')
        mib_limit=$(awk -v l="$limit" 'BEGIN { printf "%.0f", l / 1024 }')
        echo "| $label | $mib_peak MiB (max of $bench_pairs) | $bytes bytes on the wire | < $mib_limit MiB | $(verdict "$peak" "<" "$limit") |"
        summarize "$label" "$mib_peak MiB" "< $mib_limit MiB" "$(verdict "$peak" "<" "$limit")"
    done
}

case $mode in
wire) wire "$@" ;;
memory) memory ;;
*) echo "unknown mode $mode" >&2; exit 2 ;;
esac
