#!/usr/bin/env bash
# Release benchmarks with the real `update console` against a local nginx:
#  1. an update of 2,000 files of 8 KiB each, next to curl fetching the same 2,000 URLs in one
#     process (one command, one reused connection, each file written to disk);
#  2. a run with nothing to do on an installation whose update_md5.info records 10,000 files.
# Usage: bench/release/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
publish=$build/tools/publish/update-publish
runs=${BENCH_RELEASE_RUNS:-5}
for tool in "$updater" "$publish"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
command -v hyperfine >/dev/null || { echo "needs hyperfine (apt-get install hyperfine)" >&2; exit 1; }

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
work=$(mktemp -d /tmp/bench-release.XXXXXX)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
source "$(dirname "$0")/../../scripts/nginx-lib.sh"
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work" # nginx workers run as "nobody"

# Releases: COUNT files of SIZE bytes, 100 to a folder, random content.
make_release() {
    python3 - "$1" "$2" "$3" <<'PY'
import os, sys
root, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    folder = os.path.join(root, "data%02d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "file%05d.bin" % i), "wb") as f:
        f.write(os.urandom(size))
PY
}
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

# 1. The 2,000-file update: a fresh installation and cache before every run.
url2000="http://127.0.0.1:$port/u2000/"
(cd "$work/release-2000" && find . -type f | sed 's|^\./||' | sort) |
    awk -v base="${url2000}v1/" -v out="$work/curl-out" \
        '{ printf "url = \"%s%s\"\noutput = \"%s/%s\"\n", base, $0, out, $0 }' >"$work/curl.cfg"
hyperfine --shell bash --style none --runs "$runs" --export-json "$work/update.json" \
    --prepare "install_with '$work/i2000' '$url2000'; rm -rf '$work/curl-out'" \
    -n "update console" "cd '$work/i2000' && ./update console >/dev/null" \
    -n "curl, one process" "curl -s --fail --create-dirs --config '$work/curl.cfg'" \
    >"$work/update.txt" 2>&1 || { cat "$work/update.txt" >&2; exit 1; }
# hyperfine prepares before every run of either command: check one more run of each.
install_with "$work/i2000" "$url2000"
(cd "$work/i2000" && ./update console >/dev/null)
rm -rf "$work/curl-out"
curl -s --fail --create-dirs --config "$work/curl.cfg"
diff -r -x system.cfg -x update_md5.info -x update "$work/release-2000" "$work/i2000" >/dev/null &&
    installed="yes" || installed="NO"
diff -r "$work/release-2000" "$work/curl-out" >/dev/null && fetched="yes" || fetched="NO"

# 2. Nothing to do: an installation that was brought to this release by the updater itself.
url10000="http://127.0.0.1:$port/u10000/"
install_with "$work/i10000" "$url10000"
(cd "$work/i10000" && ./update console >/dev/null)
report=$(cd "$work/i10000" && ./update console || true)
recorded=$(grep -c . "$work/i10000/update_md5.info")
hyperfine --shell bash --style none --warmup 3 --runs $((runs * 4)) --ignore-failure \
    --export-json "$work/idle.json" -n "update console, nothing to do" \
    "cd '$work/i10000' && ./update console >/dev/null" >"$work/idle.txt" 2>&1 ||
    { cat "$work/idle.txt" >&2; exit 1; }

stat() { # json, command index, field (mean|stddev|min|max|median) -> ms
    python3 -c 'import json,sys; r=json.load(open(sys.argv[1]))["results"][int(sys.argv[2])]
print("%.1f" % (r[sys.argv[3]] * 1000))' "$@"
}
ours=$(stat "$work/update.json" 0 median) theirs=$(stat "$work/update.json" 1 median)
ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')
verdict=$(awk -v r="$ratio" 'BEGIN { print (r <= 2 ? "met" : "MISSED") }')
idle=$(stat "$work/idle.json" 0 median)
idle_verdict=$(awk -v t="$idle" 'BEGIN { print (t < 150 ? "met" : "MISSED") }')

echo "### Release: a whole update against curl, and a run with nothing to do"
echo
echo "Real \`update console\` processes (optional update: no window) against nginx on 127.0.0.1,"
echo "content published with update-publish; hyperfine, median of $runs runs, a fresh installation"
echo "and cache before each run. The updater's time covers the whole process: update.ini, md5.txt,"
echo "comparison, downloads with size and digest checks, writing to the cache and moving into place."
echo
echo "| measurement | update | curl | update / curl | target |"
echo "| --- | --- | --- | --- | --- |"
echo "| 2,000 files of 8 KiB (median) | $ours ms | $theirs ms | $ratio | <= 2 ($verdict) |"
echo "| same, min / max | $(stat "$work/update.json" 0 min) / $(stat "$work/update.json" 0 max) ms | $(stat "$work/update.json" 1 min) / $(stat "$work/update.json" 1 max) ms | | |"
echo "| result equals the release (diff -r) | $installed | $fetched | | |"
echo
echo "| measurement | update | target |"
echo "| --- | --- | --- |"
echo "| nothing to do, $recorded files recorded (median of $((runs * 4))) | $idle ms | < 150 ms ($idle_verdict) |"
echo "| same, min / max | $(stat "$work/idle.json" 0 min) / $(stat "$work/idle.json" 0 max) ms | |"
echo "| its report | \`$report\` | |"
echo "| update-publish, 2,000 files of 8 KiB | $publish_2000_ms ms | |"
echo "| update-publish, 10,000 files of 64 bytes | $publish_10000_ms ms | |"
