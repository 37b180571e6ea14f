#!/usr/bin/env bash
# Builds everything (installing missing packages first) and runs the whole test suite headless.
# Test labels: unit (in-process), bad-data (every data file damaged under the
# real show), show (lost devices; the whole show in-process), desktop (the
# show under a virtual X server the tests start themselves: they undo the
# headless video driver for the show they run), soak (the whole show in real
# time and captured twice, minutes long), web (the web show in headless
# Chromium against the native frames). The soak tests run only when asked
# for: scripts/test.sh -L soak
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -DGFXCORE_WERROR=ON >/dev/null
cmake --build build -j"$(nproc)"
# The web show's site, which the web label plays in headless Chromium.
scripts/web.sh --build
export SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=disk
labels=(-LE soak)
for argument in "$@"; do
  case $argument in -L | -LE | --label-regex | --label-exclude) labels=() ;; esac
done
ctest --test-dir build --output-on-failure -j"$(nproc)" --timeout 600 "${labels[@]}" "$@"
