#!/usr/bin/env bash
# The whole test suite: installs what it needs, builds, runs every test.
# --sanitize runs the same suite built with -fsanitize=address,undefined.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
dir=$(bash scripts/build.sh "$@" | tail -n 1)
ctest --test-dir "$dir" --output-on-failure -j2
