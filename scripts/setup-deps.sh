#!/usr/bin/env bash
# Installs what building, testing and the demo need, from Debian's archive only.
# Idempotent: packages already present are not touched.
set -euo pipefail

packages=(
    qtbase5-dev qtbase5-dev-tools cmake ninja-build pkg-config g++
    clang libclang-rt-14-dev     # fuzzing and sanitizer runs
    nginx-light                  # real HTTP server for tests, demo and benchmarks
    tinyproxy-bin                # a real HTTP proxy for the tests of "Proxy"
    fonts-wqy-microhei           # Chinese text in the dialogs and preview pictures
    libssl-dev openssl           # libcrypto: release signatures and SHA-256; the CLI for tests
    libzstd-dev zstd             # compressed copies and patches; the CLI for tests and benchmarks
    python3 curl hyperfine time bc strace
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
