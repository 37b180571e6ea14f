#!/usr/bin/env bash
# Builds everything (installing missing packages first) and runs the whole test suite headless.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DGFXCORE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=disk
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600 "$@"
