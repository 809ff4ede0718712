#!/usr/bin/env bash
# Pictures of every dialog state as the Windows build shows them: update-preview.exe under
# Wine with the windows platform plugin on a virtual X screen (Xvfb), each dialog taken
# from the screen. Writes docs/images/windows-*.png (or into the folder given). Rerun it
# after any change to the dialogs.
set -euo pipefail
cd "$(dirname "$0")/.."

out=$(realpath -m "${1:-docs/images}")
windows=$(bash scripts/build-windows.sh | tail -n 1)
for p in xvfb fonts-wine; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" ||
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$p"
done

work=$(mktemp -d /tmp/update-shots.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=;mshtml="
xvfb_pid=
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# A display number nobody uses.
display=90
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$display"
for _ in $(seq 50); do
    [ -e /tmp/.X11-unix/X$display ] && break
    sleep 0.1
done

wine wineboot --init >/dev/null 2>&1
wineserver -w
mkdir -p "$out"
# The windows platform plugin, Qt's default on Windows. Under Wine its GDI text renderer
# draws no text at all, so the pictures use the same plugin's FreeType renderer; Chinese text
# needs the ANSI code page 936 and a Chinese font (wqy, which Wine finds through fontconfig).
LC_ALL=zh_CN.UTF-8 wine "$windows/tools/preview/update-preview.exe" "Z:$out" --on-screen \
    --prefix windows- -platform windows:fontengine=freetype
rm -f "$out/windows-icon.png"
ls -1 "$out"/windows-*.png
