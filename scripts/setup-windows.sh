#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need, from Debian's archive only,
# and puts the static Qt and OpenSSL for Windows into /opt: unpacked from ../shared/windows-qt
# when the tarballs are there (checked against their sha256), otherwise rebuilt from Debian's
# sources with the scripts there. Idempotent: what is already present is not touched.
set -euo pipefail
cd "$(dirname "$0")/.."

shared=${WINDOWS_QT_DIR:-$(cd .. && pwd)/shared/windows-qt}
packages=(
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
    cmake ninja-build wine wine64
    fonts-wqy-microhei                # Chinese text in offscreen dialogs
    nginx-light openssl locales
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine takes the ANSI code page from LC_ALL (zh_CN.UTF-8 gives 936) but encodes Linux file
# names through the C library's locale: without a generated zh_CN.UTF-8, Chinese names fail.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    echo "Generating the locale zh_CN.UTF-8"
    sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    locale-gen >/dev/null
fi

# unpack_or_build NAME PREFIX TARBALL SHA256 BUILD_SCRIPT
unpack_or_build() {
    local name=$1 prefix=$2 tarball=$shared/$3 sum=$4 script=$shared/$5
    [ -d "$prefix/lib" ] && return 0
    if [ -f "$tarball" ]; then
        echo "Unpacking $name into $prefix"
        echo "$sum  $tarball" | sha256sum --check --quiet
        tar -C /opt -xJf "$tarball"
    elif [ -f "$script" ]; then
        echo "No $tarball: rebuilding $name from Debian's sources with $script."
        echo "This takes about an hour on 2 cores."
        bash "$script"
    else
        echo "Neither $tarball nor $script: cannot provide $name in $prefix" >&2
        return 1
    fi
}

# OpenSSL first: Qt's build links it.
unpack_or_build "OpenSSL 3 for Windows" /opt/openssl-win64 openssl-3.0-win64-mingw-static.tar.xz \
    bba914581ae36599cff21dba6a8111d81b8f37aa2840720eb6dbb08d7ba18d4a build-openssl-win64.sh
unpack_or_build "Qt 5.15 for Windows" /opt/qt5-win64 qt5.15.8-win64-mingw-static.tar.xz \
    2c73c05dfaf8064927e6fd26e82241709cbb88432fcb10f219b8188ddd268c0b build-qt-win64.sh
unpack_or_build "libzstd for Windows" /opt/zstd-win64 zstd-win64-mingw-static.tar.xz \
    ce496fa478e9be05492a0bcdccc34e89d71b85b5e9a00b10a52def4282ee28c8 build-zstd-win64.sh
