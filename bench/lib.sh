# Sourced by bench/*/run.sh: one way to time our side against its baseline.
#
# Both sides are measured in the same run, alternating (ours, baseline, ours, baseline, ...),
# so that both see the same machine: a compile that starts half-way slows both, not one.
# Before every timed run the caller's prepare step runs untimed, then `sync`, so that the
# writeback of what earlier runs wrote is not billed to the next one. Each run appends
# "wall_ms cpu_ms maxrss_kib voluntary_context_switches" to a file; the figures are the median with min/max and the
# interquartile range, and each ratio is the ratio of the medians, with the range of the
# ratios of the single pairs beside it.
#
# alternate PAIRS DIR PREPARE_OURS CMD_OURS PREPARE_BASE CMD_BASE
#   PREPARE_* and CMD_* are bash command texts; results go to DIR/ours and DIR/base.
# spread FILE COLUMN          "median (min-max)" of a column (1 wall, 2 cpu, 3 rss)
# stat_of FILE COLUMN FIELD      one of median min max q1 q3
# ratio_row LABEL FILE_A FILE_B COLUMN OP TARGET [UNIT]
#   a table row "| label | A | B | A/B, pairs | target | verdict |"; OP is <= >= or <,
#   or - for a figure without a target.
#   The row is also appended to $BENCH_SUMMARY when bench/run set it.
# value_row LABEL FILE COLUMN OP TARGET UNIT   the same for an absolute target
# pair_difference A B OUT     wall of A minus wall of B, pair by pair (a harness floor off)
# load_now                    the 1-minute load average
# start_latency_proxy PORT    bench/latency/latencyproxy.py (round trip $rtt ms) in front of
#                             127.0.0.1:PORT; sets proxy_port; stop_latency_proxy ends it

bench_pairs=${BENCH_PAIRS:-5}
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

load_now() { cut -d' ' -f1 /proc/loadavg; }

# Runs one command text, timed; appends "wall_ms cpu_ms maxrss_kib voluntary_switches" to FILE.
timed_run() {
    local file=$1 command=$2 start end
    start=$(date +%s%N)
    /usr/bin/time -f '%U %S %M %w' -o "$file.rusage" bash -c "$command" || return 1
    end=$(date +%s%N)
    awk -v wall=$(((end - start) / 1000)) '{ printf "%.3f %.1f %d %d\n", wall / 1000, ($1 + $2) * 1000, $3, $4 }' \
        "$file.rusage" >>"$file"
}

alternate() {
    local pairs=$1 dir=$2 prepare_ours=$3 ours=$4 prepare_base=$5 base=$6 i
    mkdir -p "$dir"
    rm -f "$dir/ours" "$dir/base"
    for ((i = 0; i < pairs; ++i)); do
        bash -c "$prepare_ours" && sync && timed_run "$dir/ours" "$ours" || return 1
        bash -c "$prepare_base" && sync && timed_run "$dir/base" "$base" || return 1
    done
}

# Only ours, for a figure with an absolute target.
repeat_runs() {
    local runs=$1 file=$2 prepare=$3 command=$4 i
    rm -f "$file"
    for ((i = 0; i < runs; ++i)); do
        bash -c "$prepare" && sync && timed_run "$file" "$command" || return 1
    done
}

stat_of() {
    python3 - "$@" <<'PY'
import statistics, sys
path, column, field = sys.argv[1], int(sys.argv[2]) - 1, sys.argv[3]
values = sorted(float(line.split()[column]) for line in open(path) if line.strip())
q1, _, q3 = statistics.quantiles(values, n=4, method="inclusive") if len(values) > 1 else values * 3
pick = {"median": statistics.median(values), "min": values[0], "max": values[-1], "q1": q1, "q3": q3}
print("%.1f" % pick[field])
PY
}

# "median (min-max), IQR q1-q3" in UNIT (ms, or MiB for column 3).
spread() {
    local file=$1 column=$2 scale=1 unit=ms
    [ "$column" = 3 ] && scale=1024 unit=MiB
    python3 - "$file" "$column" "$scale" "$unit" <<'PY'
import statistics, sys
path, column, scale, unit = sys.argv[1], int(sys.argv[2]) - 1, float(sys.argv[3]), sys.argv[4]
v = sorted(float(line.split()[column]) / scale for line in open(path) if line.strip())
q1, _, q3 = statistics.quantiles(v, n=4, method="inclusive") if len(v) > 1 else v * 3
print("%.1f %s (%.1f-%.1f; IQR %.1f-%.1f; n=%d)" % (statistics.median(v), unit, v[0], v[-1], q1, q3, len(v)))
PY
}

# Ratio of the medians of A and B, and the range of the pairwise ratios.
pair_ratio() {
    python3 - "$@" <<'PY'
import statistics, sys
a_path, b_path, column = sys.argv[1], sys.argv[2], int(sys.argv[3]) - 1
read = lambda p: [float(l.split()[column]) for l in open(p) if l.strip()]
a, b = read(a_path), read(b_path)
pairs = sorted(x / y for x, y in zip(a, b))
print("%.2f %.2f %.2f" % (statistics.median(a) / statistics.median(b), pairs[0], pairs[-1]))
PY
}

# pair_difference A B OUT: column 1 of A minus column 1 of B, pair by pair, one a line.
pair_difference() {
    paste -d' ' <(cut -d' ' -f1 "$1") <(cut -d' ' -f1 "$2") | awk '{ printf "%.3f\n", $1 - $2 }' >"$3"
}

verdict() { # value op target
    awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN {
        ok = (op == "<=") ? v <= t : (op == ">=") ? v >= t : (op == "<") ? v < t : 0
        print ok ? "met" : "MISSED" }'
}

summarize() { # label value target verdict
    [ -n "${BENCH_SUMMARY:-}" ] && echo "| $1 | $2 | $3 | $4 |" >>"$BENCH_SUMMARY"
    return 0
}

ratio_row() {
    local label=$1 a=$2 b=$3 column=$4 op=$5 target=$6 ratio low high result
    read -r ratio low high < <(pair_ratio "$a" "$b" "$column")
    if [ "$op" = - ]; then
        echo "| $label | $(spread "$a" "$column") | $(spread "$b" "$column") | $ratio (pairs $low-$high) | none | |"
        return 0
    fi
    result=$(verdict "$ratio" "$op" "$target")
    echo "| $label | $(spread "$a" "$column") | $(spread "$b" "$column") | $ratio (pairs $low-$high) | $op $target | $result |"
    summarize "$label" "$ratio x" "$op $target x" "$result"
}

value_row() {
    local label=$1 file=$2 column=$3 op=$4 target=$5 unit=$6 field=${7:-median} value result
    value=$(stat_of "$file" "$column" "$field")
    [ "$column" = 3 ] && value=$(awk -v k="$value" 'BEGIN { printf "%.1f", k / 1024 }')
    result=$(verdict "$value" "$op" "$target")
    echo "| $label | $(spread "$file" "$column") | $field $value $unit | $op $target $unit | $result |"
    summarize "$label ($field)" "$value $unit" "$op $target $unit" "$result"
}

# make_release ROOT COUNT SIZE: COUNT files of SIZE random bytes, 100 to a folder.
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

# make_one_file_release ROOT SIZE: ROOT/v2/big.bin of SIZE random bytes, its md5.txt (digest
# text: the MD5 read as four little-endian words; size as low then high 32 bits; CRLF) and an
# optional update.ini naming folder v2, all readable by nginx's workers.
make_one_file_release() {
    local root=$1 size=$2 file=$1/v2/big.bin
    mkdir -p "$root/v2"
    head -c "$size" /dev/urandom >"$file"
    python3 - "$file" "$(md5sum "$file" | cut -c1-32)" >"$root/v2/md5.txt" <<'PY'
import os, sys
path, hexmd5 = sys.argv[1], sys.argv[2]
raw = bytes.fromhex(hexmd5)
digest = "".join(raw[i:i + 4][::-1].hex() for i in range(0, 16, 4))
size = os.path.getsize(path)
sys.stdout.write("%s\t%08x%08x\t%s\r\n" % (digest, size & 0xffffffff, size >> 32, "big.bin"))
PY
    printf '[Summary]\r\nUpdateType=0\r\n[Version]\r\nFolder=v2\r\nVersion=2.0\r\n' >"$root/update.ini"
    chmod -R a+rX "$root"
}

# bench_workdir NAME: sets `work` to a new folder that nginx's workers ("nobody") can enter,
# with a runtime folder of its own, and the environment every benchmark runs under.
bench_workdir() {
    export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
    work=$(mktemp -d "/tmp/bench-$1.XXXXXX")
    chmod 755 "$work"
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -m 700 "$XDG_RUNTIME_DIR"
}

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
proxy_pid=

# The proxy stops by itself after two hours at the latest.
start_latency_proxy() {
    python3 "$bench_dir/latency/latencyproxy.py" --target "$1" --rtt-ms "$rtt" \
        --lifetime-s 7200 >"$work/proxy.out" &
    proxy_pid=$!
    for _ in $(seq 50); do
        grep -q '^port ' "$work/proxy.out" 2>/dev/null && break
        sleep 0.1
    done
    proxy_port=$(awk '/^port / { print $2 }' "$work/proxy.out")
    [ -n "$proxy_port" ] || { echo "the latency proxy did not start" >&2; exit 1; }
}

stop_latency_proxy() {
    [ -z "$proxy_pid" ] || { kill "$proxy_pid" 2>/dev/null && wait "$proxy_pid" 2>/dev/null; } || true
}
