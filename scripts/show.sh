#!/usr/bin/env bash
# Builds everything (installing missing packages first) and plays the show.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc)"
cd build/show
exec ./gfxcore "$@"
