#!/usr/bin/env bash
# Installs the Debian packages the build needs; only what is missing, quiet when all are present.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libsdl2-dev libgl-dev libgl1-mesa-dri libx11-dev libxfixes-dev
  libmpg123-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev libswresample-dev
  libjpeg62-turbo-dev libpng-dev zlib1g-dev
  libmp3lame-dev libfreetype-dev fonts-dejavu-core
  libgtest-dev libgmock-dev libbenchmark-dev
  # Tests: a real X server and input, and files written by other programs.
  xvfb xdotool x11-utils x11-apps twm imagemagick
  ffmpeg lame libjpeg-turbo-progs assimp-utils
  # The web build: the WebAssembly compiler (its libraries come from scripts/web-deps.sh) and the
  # browser that tests it.
  emscripten chromium python3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
