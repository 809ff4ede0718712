#!/usr/bin/env bash
# The Windows programs under Wine: builds them (scripts/build-windows.sh), runs the test
# suite's Windows executables in a Wine prefix of its own (offscreen platform), then the
# end-to-end suite from the Linux side, where the Linux test drives update.exe and
# update-publish.exe under Wine against a real nginx on 127.0.0.1, once with the ANSI code
# page 936 and once with 1252.
set -euo pipefail
cd "$(dirname "$0")/.."

windows=$(bash scripts/build-windows.sh | tail -n 1)
windows=$(cd "$windows" && pwd)
bash scripts/setup-deps.sh
linux=$(bash scripts/build.sh | tail -n 1)
linux=$(cd "$linux" && pwd)

work=$(mktemp -d /tmp/update-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
cleanup() {
    # A test that crashed may have left the nginx or tinyproxy it started through Wine.
    find "$WINEPREFIX" "$work" \( -name nginx.pid -o -name tinyproxy.pid \) 2>/dev/null |
        while read -r pidfile; do
            kill -TERM "$(cat "$pidfile")" 2>/dev/null || true
        done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

started=$(date +%s)
echo "== Creating the Wine prefix $WINEPREFIX"
wine wineboot --init >/dev/null 2>&1
wineserver -w

echo "== Windows test programs under Wine"
# A test that fails is run again, up to twice: under load, a Wine process now and then hangs
# at its exit after every test function has passed. Not our code: it was seen with
# tst_downloadfaults, and then with tst_digest.exe, which only hashes a few files and
# starts no thread and no socket (QtTest printed "Finished testing" 33 ms in, the process
# was still there when ctest's 300 s ran out; load about 9 on 2 cores). 70 runs of
# tst_downloadfaults.exe alone, 20 of them two at a time and 30 beside two cross-builds,
# never hung. Yet two fresh-clone runs in a row had one such hang each (tst_manifest.exe,
# tst_compare.exe), so a single retry left a real chance of one test hanging twice.
# The retries hide nothing: a test that needed one is named below.
ctestlog=$work/ctest.log
status=0
ctest --test-dir "$windows" --output-on-failure -j2 --repeat until-pass:3 2>&1 |
    tee "$ctestlog" || status=$?
retried=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*' "$ctestlog" |
    sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*\*\*\*([A-Za-z]+).*/\1 (\2)/' || true)
if [ -n "$retried" ]; then
    echo "-- Failed at least once under Wine (a later run decided):"
    echo "$retried"
fi
[ "$status" = 0 ]

echo "== End-to-end from the Linux side: update.exe under Wine"
failed=0
passed=0
for locale in zh_CN.UTF-8 C.UTF-8; do
    log=$work/endtoend-$locale.log
    # Like the Windows tests, a failed run is tried once more.
    for _ in 1 2; do
        status=0
        (cd "$work" && UPDATE_WINDOWS_BUILD=$windows LC_ALL=$locale QT_QPA_PLATFORM=offscreen \
            "$linux/tests/e2e/tst_endtoend") >"$log" 2>&1 || status=$?
        [ "$status" = 0 ] && break
        echo "-- LC_ALL=$locale failed once: $(grep -E '^FAIL!' "$log" | head -n 3)"
    done
    echo "-- LC_ALL=$locale: $(grep -E '^Totals' "$log" || echo 'no totals')"
    grep -E -A3 '^(FAIL!|SKIP)' "$log" || true
    if [ "$status" = 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done
echo "Windows part done in $(($(date +%s) - started)) s after the build"
echo "wine end-to-end: $passed passed, $failed failed"
[ "$failed" = 0 ]
