#!/usr/bin/env bash
# A real update end to end: builds the project, publishes a sample v1 and v2 with
# update-publish, serves them with a private nginx on 127.0.0.1, installs v1 into a sample
# folder and lets `update console` bring it to v2. Both releases are signed, and the sample
# client accepts only releases signed with that key; at the end a changed description is refused.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
echo "== Building"
build=$(bash scripts/build.sh | tail -n 1)
build=$(cd "$build" && pwd)
publish_tool=$build/tools/publish/update-publish
updater=$build/app/update

# Non-ASCII file names need a UTF-8 local encoding; a forced update shows its progress
# window, which needs a display or the offscreen platform.
export LC_ALL=C.UTF-8
[ -n "${DISPLAY:-}" ] || export QT_QPA_PLATFORM=offscreen

work=$(mktemp -d /tmp/update-demo.XXXXXX)
source scripts/nginx-lib.sh
cleanup() {
    stop_nginx
    rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work" # nginx workers run as "nobody"
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
started=$(date +%s%N)

make_release() { # folder, then pairs of path and content
    local dir=$1
    shift
    while [ $# -gt 0 ]; do
        mkdir -p "$(dirname "$dir/$1")"
        printf '%s\n' "$2" >"$dir/$1"
        shift 2
    done
    # The host: records each start next to itself.
    printf '#!/bin/sh\necho "host started with: $*" >>"$(dirname "$0")/host.log"\n' >"$dir/Host.exe"
    chmod 755 "$dir/Host.exe"
}

echo "== Sample releases"
make_release "$work/release-v1" \
    readme.txt "Sample host, version 1.0" \
    lib/core.dll "core library 1.0" \
    "data/levels.dat" "level data that does not change" \
    "docs/用户 手册.txt" "manual, first edition"
make_release "$work/release-v2" \
    readme.txt "Sample host, version 2.0" \
    lib/core.dll "core library 2.0 with fixes" \
    "data/levels.dat" "level data that does not change" \
    "docs/用户 手册.txt" "manual, second edition" \
    "data/new map.dat" "a map added in 2.0"

echo "== Serving $work/root with nginx on 127.0.0.1"
start_nginx "$work/nginx" "$work/root"
port=$nginx_port

echo "== A signing key pair"
"$publish_tool" --keygen "$work/keys" | tee "$work/keygen.txt"
public_key=$(sed -n 's/^PublicKey=//p' "$work/keygen.txt")
signing=(--sign "$work/keys/update-signing.key" --expires 30)

echo "== Publishing v1, signed"
"$publish_tool" "$work/release-v1" "$work/root" --folder v1 --version 1.0 "${signing[@]}" \
    --server-url "http://127.0.0.1:$port" | tee "$work/publish.txt"
url=$(sed -n 's/^URL=//p' "$work/publish.txt")

echo "== Installing v1 into $work/sample"
cp -a "$work/release-v1" "$work/sample"
cp "$updater" "$work/sample/update"
printf '[Update]\nURL=%s\nCache=%s\nPublicKey=%s\n' "$url" "$work/cache" "$public_key" \
    >"$work/sample/system.cfg"
cat "$work/sample/system.cfg"
cp -a "$work/sample" "$work/sample-before"

echo "== Publishing v2 (forced), signed"
"$publish_tool" "$work/release-v2" "$work/root" --folder v2 --version 2.0 "${signing[@]}"
"$publish_tool" --verify "$work/root" --public-key "$work/keys/update-signing.pub"

run_updater() {
    local status=0
    (cd "$work/sample" && ./update console >"$work/report.json") || status=$?
    echo "report:    $(cat "$work/report.json")"
    echo "exit code: $status"
}
echo "== update console: v1 -> v2"
run_updater
[ -f "$work/sample/host.log" ] && echo "host restarted: $(cat "$work/sample/host.log")"
echo "files that changed:"
(diff -rq "$work/sample-before" "$work/sample" || true) | sed "s|$work/||g; s/^/    /"
echo "requests to the server (description, signature, lists, files):"
awk '$7 != "/" {print $7}' "$work/nginx/access.log" | sed 's/^/    /'
echo "release sequence recorded: $(cat "$work/sample/update_sequence.info")"

echo "== update console again: nothing to do"
run_updater
cmp "$work/root/v2/md5.txt" "$work/sample/update_md5.info" &&
    echo "update_md5.info equals the published v2 md5.txt"
diff -r -x system.cfg -x update_md5.info -x update_sequence.info -x '*.old' -x host.log -x update \
    "$work/release-v2" "$work/sample" && echo "the installation equals release v2"

echo "== A changed byte in the served update.ini: refused, nothing changes"
cp -a "$work/sample" "$work/sample-v2"
cp "$work/root/update.ini" "$work/update.ini.good"
sed -i 's/Version=2.0/Version=2.1/' "$work/root/update.ini"
run_updater
diff -r "$work/sample-v2" "$work/sample" >/dev/null && echo "the installation is unchanged"
cp "$work/update.ini.good" "$work/root/update.ini"

echo "== Done in $((($(date +%s%N) - started) / 1000000)) ms after the build; stopping nginx"
