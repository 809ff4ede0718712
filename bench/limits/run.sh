#!/usr/bin/env bash
# Peak memory of a real `update console` (a client with "PublicKey") against nginx serving a
# signed release whose update.ini.sig is a 1 GiB sparse file, and one whose update.ini.sig
# comes compressed without a length (chunked; 1 GiB once unpacked). Ours alternates with a
# baseline updater when BASELINE_UPDATER names one (e.g. a build from before the byte
# limits), BENCH_PAIRS pairs (default 5); without it only ours runs.
# Usage: bench/limits/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
publish=$build/tools/publish/update-publish
for tool in "$updater" "$publish"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
baseline=${BASELINE_UPDATER:-}
source "$(dirname "$0")/../lib.sh"

bench_workdir limits
source "$(dirname "$0")/../../scripts/nginx-lib.sh"
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/release"
head -c 4096 /dev/urandom >"$work/release/a.dll"
"$publish" --keygen "$work/keys" >/dev/null
key=$(cat "$work/keys/update-signing.pub")
for root in plain compressed; do
    "$publish" "$work/release" "$work/root/$root" --folder v1 \
        --sign "$work/keys/update-signing.key" >/dev/null
    truncate -s 1G "$work/root/$root/update.ini.sig"
done
chmod -R a+rX "$work/root"
# The compressed root from a second server block of the same nginx, on a port of its own.
packed_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
start_nginx "$work/nginx" "$work/root/plain" off \
    "server { listen 127.0.0.1:$packed_port; root $work/root/compressed; gzip on; gzip_types *; gzip_min_length 0; }"

install_for() { # folder, updater, root name
    local port=$nginx_port
    [ "$3" = compressed ] && port=$packed_port
    rm -rf "$1" "$1-cache"
    mkdir -p "$1"
    cp "$2" "$1/update"
    printf '[Update]\nURL=http://127.0.0.1:%s/\nCache=%s\nPublicKey=%s\n' \
        "$port" "$1-cache" "$key" >"$1/system.cfg"
}
export -f install_for
export nginx_port packed_port key
# The run refuses the release (exit 1); its report is kept to show the message.
run_in() { echo "cd '$1' && { ./update console >'$1.report' || true; }"; }

load_before=$(load_now)
for root in plain compressed; do
    if [ -n "$baseline" ]; then
        alternate "$bench_pairs" "$work/$root" \
            "install_for '$work/ours' '$updater' $root" "$(run_in "$work/ours")" \
            "install_for '$work/base' '$baseline' $root" "$(run_in "$work/base")"
    else
        mkdir -p "$work/$root"
        repeat_runs "$bench_pairs" "$work/$root/ours" \
            "install_for '$work/ours' '$updater' $root" "$(run_in "$work/ours")"
    fi
    cp "$work/ours.report" "$work/$root/ours.report"
    [ -n "$baseline" ] && cp "$work/base.report" "$work/$root/base.report"
done
load_after=$(load_now)

echo "### Limits: peak memory against a 1 GiB update.ini.sig"
echo
echo "Real \`update console\` processes with \`PublicKey\` against nginx on 127.0.0.1 serving a"
echo "signed release whose update.ini.sig is a 1 GiB sparse file: with its length announced, and"
echo "compressed on the fly (chunked, no length). Peak resident memory from \`/usr/bin/time\`;"
echo "$bench_pairs runs each, alternating with the baseline when there is one; load average"
echo "$load_before before, $load_after after."
echo
echo "| update.ini.sig of 1 GiB | ours, peak memory | target | |"
echo "| --- | --- | --- | --- |"
value_row "announced length" "$work/plain/ours" 3 "<" 64 MiB max
value_row "chunked, no length" "$work/compressed/ours" 3 "<" 64 MiB max
echo
if [ -n "$baseline" ]; then
    echo "| update.ini.sig of 1 GiB | baseline, peak memory | baseline, wall time | ours, wall time |"
    echo "| --- | --- | --- | --- |"
    for root in plain compressed; do
        echo "| $root | $(spread "$work/$root/base" 3) | $(spread "$work/$root/base" 1) | $(spread "$work/$root/ours" 1) |"
    done
    echo
fi
echo "Reports of ours: announced length \`$(cat "$work/plain/ours.report")\`; chunked \`$(cat "$work/compressed/ours.report")\`."
if [ -n "$baseline" ]; then
    echo "Reports of the baseline: announced length \`$(cat "$work/plain/base.report")\`; chunked \`$(cat "$work/compressed/base.report")\`."
fi
