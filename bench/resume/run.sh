#!/usr/bin/env bash
# Resume inside a file: the real `update console` fetching one file of BENCH_RESUME_SIZE_MIB
# (default 512) from nginx on 127.0.0.1 is killed (SIGKILL) once its partial file in the cache
# holds about half of it, then run again. nginx's access log gives the bytes the second run
# was sent for the file; the target is less than 60 % of the file. BENCH_RESUME_RUNS kills
# and reruns (default 3), each from an empty cache and an installation without the file.
# Usage: bench/resume/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
updater=$build/app/update
size_mib=${BENCH_RESUME_SIZE_MIB:-512}
runs=${BENCH_RESUME_RUNS:-3}
[ -x "$updater" ] || { echo "missing $updater: build the project first" >&2; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../lib.sh"
source "$here/../../scripts/nginx-lib.sh"

bench_workdir resume
updater_pid=
cleanup() {
    [ -n "$updater_pid" ] && kill -KILL "$updater_pid" 2>/dev/null && wait "$updater_pid" 2>/dev/null
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT

size=$((size_mib * 1024 * 1024))
mkdir -p "$work/app"
make_one_file_release "$work/root" "$size"
file=$work/root/v2/big.bin
start_nginx "$work/nginx" "$work/root"
log=$work/nginx/access.log

cp "$updater" "$work/app/update"
printf '[Update]\nURL=http://127.0.0.1:%s/\nCache=%s\n' "$nginx_port" "$work/cache" >"$work/app/system.cfg"
partial_dir=$work/cache/.~partial

# Bytes nginx sent for big.bin in the log lines after line $1 (combined format, field 10).
sent_since() { tail -n +"$(($1 + 1))" "$log" | awk '$7 ~ /big\.bin$/ { s += $10 } END { print s + 0 }'; }
log_lines() { [ -f "$log" ] && wc -l <"$log" || echo 0; }
partial_size() { stat -c %s "$partial_dir"/*.part 2>/dev/null | head -n 1 || echo 0; }

load_before=$(load_now)
rows=()
fractions=()
installed=yes
for ((i = 0; i < runs; ++i)); do
    rm -rf "$work/cache" "$work/app/big.bin" "$work/app/big.bin.old" "$work/app/update_md5.info"
    sync
    first_line=$(log_lines)
    (cd "$work/app" && exec ./update console >"$work/first.out" 2>&1) &
    updater_pid=$!
    # Bounded: two minutes at most for the first half.
    for _ in $(seq 12000); do
        [ "$(partial_size)" -ge $((size / 2)) ] && break
        kill -0 "$updater_pid" 2>/dev/null || break
        sleep 0.01
    done
    kill -KILL "$updater_pid" 2>/dev/null || true
    wait "$updater_pid" 2>/dev/null || true
    updater_pid=
    kept=$(partial_size)
    [ "$kept" -gt 0 ] && [ "$kept" -lt "$size" ] || { echo "run $i: no partial file to resume (kept $kept)" >&2; exit 1; }
    # nginx logs the broken-off request once it notices (bounded wait); it is not the second run's.
    for _ in $(seq 100); do
        [ "$(sent_since "$first_line")" -gt 0 ] && break
        sleep 0.05
    done
    before=$(log_lines)
    start=$(date +%s%N)
    (cd "$work/app" && ./update console >"$work/second.out" 2>&1) || true
    ms=$((($(date +%s%N) - start) / 1000000))
    sleep 0.2
    sent=$(sent_since "$before")
    cmp -s "$file" "$work/app/big.bin" || installed=NO
    fraction=$(awk -v s="$sent" -v n="$size" 'BEGIN { printf "%.1f", s * 100 / n }')
    fractions+=("$fraction")
    rows+=("| $((i + 1)) | $(awk -v k="$kept" -v n="$size" 'BEGIN { printf "%.1f %%", k * 100 / n }') | $sent | $fraction % | $ms ms |")
done
load_after=$(load_now)
worst=$(printf '%s\n' "${fractions[@]}" | sort -g | tail -n 1)
result=$(verdict "$worst" "<" 60)
summarize "second run after a kill at half-way, share of the $size_mib MiB file sent (worst of $runs)" \
    "$worst %" "< 60 %" "$result"

echo "### Resume: one $size_mib MiB file, the updater killed at about half-way and run again"
echo
echo "nginx on 127.0.0.1; the first \`update console\` gets SIGKILL once its partial file in the"
echo "cache holds half the file, the second runs to the end. Bytes sent: nginx's access log for the"
echo "second run's requests of the file. $runs runs; load average $load_before before, $load_after after."
echo
echo "| run | partial file at the kill | bytes sent to the second run | share of the file | second run |"
echo "| --- | --- | --- | --- | --- |"
printf '%s\n' "${rows[@]}"
echo
echo "| figure | measured | target | |"
echo "| --- | --- | --- | --- |"
echo "| share of the file sent to the second run (worst) | $worst % | < 60 % | $result |"
echo "| installed file equals the served one, every run | $installed | | |"
