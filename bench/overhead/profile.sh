#!/usr/bin/env bash
# Instructions per file of an update, by function: `update console` under callgrind fetching
# 100 and then 200 files of 8 KiB from nginx on 127.0.0.1; the difference of the two runs,
# divided by 100, is the per-file cost without the process's start. Instruction counts do not
# depend on the machine's load. Not part of bench/run (it takes a few minutes).
# Usage: bench/overhead/profile.sh BUILD_DIR [LINES]   (prints the top LINES functions, default 60)
set -euo pipefail
build=$(cd "${1:?usage: profile.sh BUILD_DIR [LINES]}" && pwd)
lines=${2:-60}
command -v valgrind >/dev/null || { echo "needs valgrind (apt-get install valgrind)" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/nginx-lib.sh"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
work=$(mktemp -d /tmp/bench-profile.XXXXXX)
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
trap 'stop_nginx; rm -rf "$work"' EXIT
chmod 755 "$work"

for count in 100 200; do
    python3 -c 'import os, sys
for i in range(int(sys.argv[2])):
    d = os.path.join(sys.argv[1], "data%02d" % (i // 100)); os.makedirs(d, exist_ok=True)
    open(os.path.join(d, "file%05d.bin" % i), "wb").write(os.urandom(8192))' "$work/rel$count" "$count"
    "$build/tools/publish/update-publish" "$work/rel$count" "$work/root/u$count" --folder v1 --optional >/dev/null
done
start_nginx "$work/nginx" "$work/root" off "keepalive_requests 100000;"
for count in 100 200; do
    mkdir -p "$work/i$count"
    cp "$build/app/update" "$work/i$count/"
    printf '[Update]\nURL=http://127.0.0.1:%s/u%s/\nCache=%s\n' "$nginx_port" "$count" \
        "$work/i$count-cache" >"$work/i$count/system.cfg"
    (cd "$work/i$count" && valgrind -q --tool=callgrind --callgrind-out-file="$work/cg$count" \
        ./update console >/dev/null)
    callgrind_annotate --auto=no --inclusive=yes --threshold=100 "$work/cg$count" |
        sed -nE 's/^ *([0-9,]+) \( *[0-9.]+%\)  (.*)$/\1\t\2/p' | sed -E 's/ \[[^]]*\]$//' \
        >"$work/inclusive$count"
done

echo "instructions per file (inclusive), from 200 files minus 100 files, divided by 100:"
python3 - "$work/inclusive200" "$work/inclusive100" "$lines" <<'PY'
import sys
def load(path):
    table = {}
    for line in open(path):
        count, name = line.rstrip("\n").split("\t", 1)
        table[name] = table.get(name, 0) + int(count.replace(",", ""))
    return table
big, small, lines = load(sys.argv[1]), load(sys.argv[2]), int(sys.argv[3])
rows = sorted(((big[n] - small.get(n, 0)) / 100, n) for n in big if not n.startswith("???:0x"))
for per_file, name in list(reversed(rows))[:lines]:
    print("%10.0f  %s" % (per_file, name[:150]))
PY
