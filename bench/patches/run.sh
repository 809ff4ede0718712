#!/usr/bin/env bash
# Compressed copies and patches on real consecutive releases from Debian's archive (OpenSSL
# 3.0.17 -> 3.0.20 -> 3.0.22, LibreOffice core +deb12u13 -> +deb12u14), fetched once into a
# cache folder with `apt-get download` and unpacked with `dpkg-deb -x`:
#  1. publishing time: `update-publish --compress --patch-from PREVIOUS --patch-from TWO_BACK`
#     of the newest release, alternating with the zstd command line making the same copies and
#     patches at the same settings (`zstd -19 --long`, `zstd -19 --long --patch-from`);
#  2. the packed sizes per release step against the command line's patches;
#  3. decoding the largest patch through the library (zstdcodec::decode, as a client decodes),
#     alternating with `zstd -d --patch-from`.
# A version that is no longer on the mirror is reported and its set skipped.
# BENCH_PATCHES_SETS="ossl lo" picks the sets, BENCH_PATCHES_PAIRS (default 3) the pairs of the
# publishing runs (level 19 takes minutes for LibreOffice), BENCH_PAIRS those of the decoding;
# BENCH_PATCHES_CACHE (default /var/tmp/update-bench-patches) keeps the downloads.
# Usage: bench/patches/run.sh BUILD_DIR   (prints a markdown section to stdout)
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
publish=$build/tools/publish/update-publish
decoder=$build/bench/patches/bench_patch_decode
for tool in "$publish" "$decoder"; do
    [ -x "$tool" ] || { echo "missing $tool: build the project first" >&2; exit 1; }
done
command -v zstd >/dev/null || { echo "needs the zstd command line (apt-get install zstd)" >&2; exit 1; }
source "$here/../lib.sh"
cache=${BENCH_PATCHES_CACHE:-/var/tmp/update-bench-patches}
publish_pairs=${BENCH_PATCHES_PAIRS:-3}
wanted=" ${BENCH_PATCHES_SETS:-ossl lo} "
bench_workdir patches
trap 'rm -rf "$work"' EXIT

# NAME|PACKAGES|VERSIONS, oldest first: consecutive updates of Debian 12.
sets=(
    "ossl|openssl libssl3|3.0.17-1~deb12u2 3.0.20-1~deb12u2 3.0.22-1~deb12u2"
    "lo|libreoffice-core|4:7.4.7-1+deb12u13 4:7.4.7-1+deb12u14"
)
skipped=() size_rows=() time_rows=() decode_rows=() client_runs=()
bench_client=$here/client.sh
: >"$work/sources"

# fetch NAME VERSION PACKAGE...: $cache/NAME/VERSION/tree from the packages' .debs; fails when
# the mirror no longer has them.
fetch() {
    local dir=$cache/$1/$2 version=$2 specs=() package deb
    shift 2
    for package in "$@"; do specs+=("$package=$version"); done
    if [ ! -d "$dir/tree" ]; then
        rm -rf "$dir"
        mkdir -p "$dir/debs"
        if ! (cd "$dir/debs" && apt-get download --print-uris "${specs[@]}" >"$dir/source.txt" &&
            apt-get download -q "${specs[@]}") >"$dir/fetch.log" 2>&1; then
            skipped+=("${specs[*]}: not on the mirror ($(tail -n 1 "$dir/fetch.log"))")
            rm -rf "$dir"
            return 1
        fi
        for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/tree.new"; done
        # A link is no file of a release: the publisher would copy what it names.
        find "$dir/tree.new" -type l -delete
        mv "$dir/tree.new" "$dir/tree"
    fi
    awk '{ gsub("\047", "", $1); printf "- %s (%s)\n", $1, $4 }' "$dir/source.txt" >>"$work/sources"
}

# A folder name for a Debian version: no epoch (a ':' is no path the clients take).
label() { echo "${1#*:}"; }

# plan_step DIR ROOT TREE FOLDER BASE...: both sides of one step as command texts, each with
# its prepare step: ours_cmd (update-publish) and cli_cmd (the same copies and patches made by
# the zstd command line, planned by packs.py).
plan_step() {
    local dir=$1 root=$2 tree=$3 folder=$4 base options=() planned=()
    shift 4
    for base in "$@"; do
        options+=(--patch-from "$base")
        planned+=("$base=$root/$base")
    done
    python3 "$here/packs.py" plan "$tree" "$dir/cli-$folder" "${planned[@]}"
    ours_prepare="rm -rf '$root/$folder' '$root'/.publishing-*"
    ours_cmd="exec '$publish' '$tree' '$root' --folder '$folder' --compress ${options[*]} >'$dir/publish-$folder.out'"
    cli_prepare="rm -rf '$dir/cli-$folder/out' && mkdir -p '$dir/cli-$folder/out'"
    cli_cmd="exec bash '$dir/cli-$folder/cli.sh'"
}

run_set() {
    local name=$1 packages=$2 versions=$3 version folders=() trees=() dir=$work/$1 i
    for version in $versions; do
        # shellcheck disable=SC2086
        fetch "$name" "$version" $packages || return 0
        folders+=("$(label "$version")")
        trees+=("$cache/$name/$version/tree")
    done
    local root=$dir/root last=$((${#folders[@]} - 1))
    mkdir -p "$root"
    "$publish" "${trees[0]}" "$root" --folder "${folders[0]}" >/dev/null
    for ((i = 1; i <= last; ++i)); do
        local bases=("${folders[i - 1]}")
        ((i >= 2)) && bases+=("${folders[i - 2]}")
        plan_step "$dir" "$root" "${trees[i]}" "${folders[i]}" "${bases[@]}"
        if ((i < last)); then # an earlier step: made once, for its sizes
            bash -c "$ours_cmd" && bash -c "$cli_prepare" && bash -c "$cli_cmd"
        else
            alternate "$publish_pairs" "$dir/publish" "$ours_prepare" "$ours_cmd" \
                "$cli_prepare" "$cli_cmd"
            time_rows+=("$(ratio_row "$name ${folders[i]}: publishing, wall time" \
                "$dir/publish/ours" "$dir/publish/base" 1 "<=" 1.5)")
            time_rows+=("$(ratio_row "$name ${folders[i]}: publishing, CPU time" \
                "$dir/publish/ours" "$dir/publish/base" 2 - -)")
        fi
        while read -r row; do size_rows+=("$row"); done < <(python3 "$here/packs.py" sizes \
            "$root" "${folders[i]}" "$dir/cli-${folders[i]}" "${bases[@]}")
    done
    decode_largest "$name" "$root" "${folders[last]}" "${folders[@]:0:last}"
    # The installations a client updates from: the previous version and two back.
    local client=("$bench_client" wire "$build" "$root" "$name" "${trees[last - 1]}" "${folders[last - 1]}")
    ((last >= 2)) && client+=("${trees[last - 2]}" "${folders[last - 2]}")
    client_runs+=("$(printf '%q ' "${client[@]}")")
}

# decode_largest NAME ROOT FOLDER BASE...: the set's largest patch decoded, library and CLI.
decode_largest() {
    local name=$1 root=$2 folder=$3 packed base size new out=$work/decoded
    shift 3
    read -r packed base size new < <(python3 "$here/packs.py" largest "$root" "$folder" "$@")
    alternate "$bench_pairs" "$work/$name-decode" "rm -f '$out'" \
        "'$decoder' '$packed' '$base' '$out' $size >>'$work/$name-decode.lib'" \
        "rm -f '$out'" "exec zstd -d -q -f --long=31 --patch-from '$base' '$packed' -o '$out'"
    local same=NO # the command line's output of the last run, then the library's once more
    cmp -s "$out" "$new" && rm -f "$out" && "$decoder" "$packed" "$base" "$out" "$size" >/dev/null &&
        cmp -s "$out" "$new" && same=yes
    awk '$1 == "mb_per_s" { print $2 }' "$work/$name-decode.lib" >"$work/$name-decode.mbps"
    local mbps ours_wall cli_wall verdict_text
    mbps=$(stat_of "$work/$name-decode.mbps" 1 median)
    ours_wall=$(stat_of "$work/$name-decode/ours" 1 median)
    cli_wall=$(stat_of "$work/$name-decode/base" 1 median)
    verdict_text=$(verdict "$mbps" ">=" 200)
    decode_rows+=("| $name: ${base#"$root"/}, $size bytes from a $(stat -c %s "$packed")-byte patch | $mbps MB/s ($(stat_of "$work/$name-decode.mbps" 1 min)-$(stat_of "$work/$name-decode.mbps" 1 max)) | $(awk -v s="$size" -v ms="$ours_wall" 'BEGIN { printf "%.0f", s / ms / 1e3 }') MB/s | $(awk -v s="$size" -v ms="$cli_wall" 'BEGIN { printf "%.0f", s / ms / 1e3 }') MB/s | >= 200 MB/s | $verdict_text | $same |")
    summarize "$name: patch decode through the library (median)" "$mbps MB/s" ">= 200 MB/s" "$verdict_text"
}

load_before=$(load_now)
for entry in "${sets[@]}"; do
    IFS='|' read -r name packages versions <<<"$entry"
    [[ "$wanted" == *" $name "* ]] || continue
    echo "== bench/patches: $name" >&2
    run_set "$name" "$packages" "$versions"
done
load_after=$(load_now)

# ---- Client side -------------------------------------------------------------------------------
# Bytes on the wire of a real `update console` run from the previous and from two versions back
# (nginx's access log, $body_bytes_sent), against the same run with Patches=false in
# system.cfg, and the whole update's time over a 20 Mbit/s link (a rate-limited proxy in front
# of nginx); then the client's anonymous memory decoding a 1 GiB file (client.sh).
client_rows=()
for run in "${client_runs[@]}"; do
    while read -r row; do client_rows+=("$row"); done < <(eval "bash $run")
done
memory_rows=()
while read -r row; do memory_rows+=("$row"); done < <(bash "$bench_client" memory "$build")
# ---- end of the client side -----------------------------------------------------------------

echo "### Patches: compressed copies and patches of real releases"
echo
echo "Consecutive Debian 12 updates from Debian's archive (\`apt-get download\`, unpacked with"
echo "\`dpkg-deb -x\`, links left out), cached in $cache; load average $load_before before,"
echo "$load_after after. Each set's newest release is published into a server root holding the"
echo "earlier ones with \`update-publish --compress --patch-from PREVIOUS [--patch-from TWO_BACK]\`,"
echo "alternating with the zstd command lines that make the same compressed copies and patches"
echo "(\`zstd -19 --long\`, \`zstd -19 --long --patch-from\`; one process per file), $publish_pairs pairs."
echo "update-publish also copies the files, hashes them and decodes every packed copy to check it."
echo
if [ ${#skipped[@]} -gt 0 ]; then
    printf -- '- skipped: %s\n' "${skipped[@]}"
    echo
fi
echo "| measure | update-publish | zstd command line | ratio | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
printf '%s\n' "${time_rows[@]}"
echo
echo "Sizes in bytes per release step (the changed files; \"a client fetches\": the patch from its"
echo "version, else the compressed copy, else the file, as the clients choose; ratios to the full"
echo "size). Patches are compared with the command line's of the same files, which the target"
echo "puts at <= 1.05x."
echo
echo "| step | changed files | full size | compressed copies | a client fetches | update-publish's patches | command line's patches | ratio | identical |"
echo "| --- | --- | --- | --- | --- | --- | --- | --- | --- |"
printf '%s\n' "${size_rows[@]}"
worst=$(printf '%s\n' "${size_rows[@]}" | awk -F'|' '$9 ~ /[0-9]/ && $9 + 0 > w { w = $9 + 0 } END { printf "%.4f", w }')
summarize "patches against the command line's (highest of every step)" "$worst x" "<= 1.05 x" \
    "$(verdict "$worst" "<=" 1.05)"
echo
echo "Decoding the largest patch of each set: the library's zstdcodec::decode (mapped base and"
echo "output, as the client decodes), timed around the call, and both processes' wall time"
echo "(\`zstd -d -q --long=31 --patch-from\`), alternating, $bench_pairs pairs; MB/s of output."
echo
echo "| patch | zstdcodec::decode | its process | \`zstd -d\` process | target | | same bytes |"
echo "| --- | --- | --- | --- | --- | --- | --- |"
printf '%s\n' "${decode_rows[@]}"
echo
echo "Client side: a real \`update console\` at the previous version and at two versions back"
echo "(its files, md5.txt as its record), with packed copies and with \`Patches=false\` (the requests"
echo "of today), alternating, $bench_pairs pairs; bytes on the wire from nginx's access log, the"
echo "whole update's wall time through latencyproxy.py --rate-mbit 20 --rtt-ms 20."
echo
echo "| measure | packed copies | Patches=false | ratio | target | |"
echo "| --- | --- | --- | --- | --- | --- |"
printf '%s\n' "${client_rows[@]}"
echo
echo "Memory of the client decoding: one ${BENCH_PATCHES_CLIENT_MIB:-1024} MiB file (base64 text, 16 changed pieces"
echo "of 64 KiB), published with \`--compress --compress-level 3 --patch-from\`; peak RssAnon of"
echo "\`update console\` (sampled every 5 ms) against 64 MiB plus the window its frame states."
echo
echo "| measure | peak RssAnon | fetched | target | |"
echo "| --- | --- | --- | --- | --- |"
printf '%s\n' "${memory_rows[@]}"
echo
echo "Sources (Debian's archive, as \`apt-get download --print-uris\` names them):"
echo
sort -u "$work/sources"
