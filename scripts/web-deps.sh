#!/usr/bin/env bash
# Builds, once, the static WebAssembly libraries the web show links against: zlib, libpng,
# libjpeg-turbo, libmpg123, SDL2 (Emscripten backend, no threads) and a small FFmpeg (AVI demuxer,
# file protocol, MJPEG decoder, encoder and parser, swscale). Sources are the Debian source packages
# of the versions the native build compiles against, with Debian's patches; the compiler is
# Debian's Emscripten. Everything lands in a cache outside the tree:
#   $GFXCORE_WEB_CACHE (default ~/.cache/gfxcore-web)/prefix   include, lib, lib/pkgconfig
# A stamp named after this script's hash marks a finished build, so an edited script rebuilds.
# Every build ends with a check: one small program linked against all the libraries decodes a JPEG,
# a PNG, an MP3 frame and an AVI frame, encodes MJPEG and starts SDL, under node.
# Usage: scripts/web-deps.sh           build when missing, print the prefix
#        scripts/web-deps.sh --check   run the check against the built prefix again
set -euo pipefail

cache=${GFXCORE_WEB_CACHE:-$HOME/.cache/gfxcore-web}
prefix=$cache/prefix
script_hash=$(sha256sum "$0" | cut -c1-16)
stamp=$prefix/.complete-$script_hash
jobs=$(nproc)
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

die() { echo "web-deps: $*" >&2; exit 1; }

mode=build
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  *) die "unknown option '$1' (use --check or nothing)" ;;
esac

if [ "$mode" = build ] && [ -e "$stamp" ]; then
  echo "Web libraries ready in $prefix"
  exit 0
fi
# Two builds at once would delete each other's files: a second caller waits for the first and
# then finds its stamp.
mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9
if [ "$mode" = build ] && [ -e "$stamp" ]; then
  echo "Web libraries ready in $prefix"
  exit 0
fi
command -v emcc >/dev/null || die "emcc not found (scripts/install-deps.sh installs emscripten)"

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

# --- Tools --------------------------------------------------------------------------------------
# emcc starts Python for every call, which costs about ten times the compile of a configure test.
# Compile-only steps therefore go straight to emcc's own clang with emcc's own flags (the objects
# are byte for byte the same); links and anything else still go through emcc. The only links here
# are configure tests, some of which node runs, and Node 20 can not fetch a .wasm by path: those
# load their WebAssembly synchronously.
tools=$cache/tools
make_tools() {
  mkdir -p "$tools"
  local clang flags
  echo 'int probe;' >"$tools/probe.c"
  clang=$(emcc -v -c "$tools/probe.c" -o "$tools/probe.o" 2>&1 | sed -n 's/^ *"\([^"]*clang[^"]*\)" -target.*/\1/p' | head -1)
  [ -x "$clang" ] || die "could not find the clang that emcc runs"
  flags=$(emcc --cflags)
  cat >"$tools/emcc" <<EOF
#!/bin/sh
compile=0
for a in "\$@"; do
  case "\$a" in
    -c|-E|-S) compile=1 ;;
    -s[A-Z]*|--*|-v) exec emcc "\$@" ;;
  esac
done
[ \$compile = 1 ] && exec "$clang" $flags "\$@"
exec emcc -sWASM_ASYNC_COMPILATION=0 "\$@"
EOF
  chmod +x "$tools/emcc"

  # CMake loads the toolchain file again for every configure test, and Emscripten's asks emcc for
  # its versions twice and em-config for its cache each time: three Python starts per test. Give it
  # the answers once.
  local version emscripten real_config
  version=$(emcc -v 2>&1 | sed -n 's/.*clang version \([0-9.]*\).*/\1/p' | head -1)
  emscripten=$(emcc -v 2>&1 | sed -n 's/^emcc (.*) \([0-9.]*\).*/\1/p' | head -1)
  [ -n "$version" ] && [ -n "$emscripten" ] || die "could not read emcc's versions"
  real_config=$(command -v em-config)
  mkdir -p "$tools/bin"
  cat >"$tools/bin/em-config" <<EOF
#!/bin/sh
[ "\$*" = CACHE ] && { echo "$(em-config CACHE)"; exit 0; }
exec "$real_config" "\$@"
EOF
  chmod +x "$tools/bin/em-config"
  cat >"$tools/toolchain.cmake" <<EOF
set(CMAKE_C_COMPILER_VERSION "$version")
set(EMSCRIPTEN_VERSION "$emscripten")
include("$(em-config EMSCRIPTEN_ROOT)/cmake/Modules/Platform/Emscripten.cmake")
EOF
  ar=$(em-config LLVM_ROOT)/llvm-ar
  [ -x "$ar" ] || ar=$(command -v llvm-ar-14 || command -v llvm-ar)
  ranlib=$(dirname "$ar")/llvm-ranlib${ar##*llvm-ar}
  nm=$(dirname "$ar")/llvm-nm${ar##*llvm-ar}
}

# --- Sources ------------------------------------------------------------------------------------
# A fresh machine has binary package lists only; add the matching source lists once.
ensure_deb_src() {
  if ! grep -rqs '^ *Types:.*deb-src\|^ *deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types: *deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
        $SUDO tee /etc/apt/sources.list.d/gfxcore-deb-src.sources >/dev/null
    elif [ -f /etc/apt/sources.list ]; then
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
        $SUDO tee /etc/apt/sources.list.d/gfxcore-deb-src.list >/dev/null
    else
      die "no Debian package sources found to add source entries to"
    fi
  fi
  if [ -z "$(apt-cache showsrc zlib 2>/dev/null | head -1)" ]; then
    $SUDO apt-get update -qq
  fi
}

upstream_of() { local v=${1#*:}; echo "${v%-*}"; }

# fetch_source <source package> <binary package the native build uses> -> prints the unpacked dir.
# Prefers the exact version of the installed binary package, then other revisions of the same
# upstream release (mirrors drop superseded revisions). The .dsc checksums are verified by hand
# and Debian's patch series applied, so a missing detached upstream signature (some mirrors omit
# them) does not stop the unpack.
fetch_source() {
  local pkg=$1 binary=$2 want="" upstream="" v dir dl file sum
  want=$(dpkg-query -W -f='${source:Version}' "$binary" 2>/dev/null || true)
  [ -n "$want" ] && upstream=$(upstream_of "$want")
  local versions
  versions=$( (echo "$want"; apt-cache showsrc "$pkg" | sed -n 's/^Version: //p') | awk 'NF && !seen[$0]++')
  [ -n "$versions" ] || die "no source package for $pkg"
  for v in $versions; do
    [ -n "$upstream" ] && [ "$(upstream_of "$v")" != "$upstream" ] && continue
    dl=$cache/src/dl/$pkg-${v#*:}
    mkdir -p "$dl"
    (cd "$dl" && apt-get source --download-only -qq "$pkg=$v" >/dev/null 2>&1) || true
    local dsc
    dsc=$(ls "$dl"/*.dsc 2>/dev/null | head -1)
    [ -n "$dsc" ] || continue
    local ok=1
    while read -r sum _ file; do
      case "$file" in *.asc) continue ;; esac
      echo "$sum  $dl/$file" | sha256sum -c --status 2>/dev/null || { ok=0; break; }
    done < <(awk '/^Checksums-Sha256:/{f=1;next} /^[^ ]/{f=0} f&&NF==3' "$dsc")
    [ $ok = 1 ] || continue
    dir=$cache/src/$pkg-${v#*:}
    rm -rf "$dir"
    mkdir -p "$dir"
    tar -xf "$(ls "$dl"/*.orig.tar.* | grep -v '\.asc$' | head -1)" --strip-components=1 -C "$dir"
    tar -xf "$(ls "$dl"/*.debian.tar.*)" -C "$dir"
    if [ -f "$dir/debian/patches/series" ]; then
      local patch
      for patch in $(sed 's/#.*//' "$dir/debian/patches/series"); do
        patch -d "$dir" -p1 -s <"$dir/debian/patches/$patch" >&2
      done
    fi
    echo "$dir"
    return 0
  done
  die "no downloadable source of $pkg matching ${want:-any version}"
}

# --- Builds -------------------------------------------------------------------------------------
cflags="-O2"

build_zlib() {
  cd "$1"
  CC=$tools/emcc AR=$ar RANLIB=$ranlib CFLAGS=$cflags CHOST=wasm32 ./configure --static --prefix="$prefix"
  make -j"$jobs" libz.a
  make install
}

# Emscripten's node runner passes a flag Node 20 refuses, which would turn every configure test
# that runs a program (type sizes) into nonsense: plain node instead.
cmake_emscripten() {
  local src=$1 build=$2
  shift 2
  PATH=$tools/bin:$PATH cmake -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$tools/toolchain.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$(command -v node)" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER="$tools/emcc" -DCMAKE_AR="$ar" -DCMAKE_RANLIB="$ranlib" \
    -DCMAKE_C_FLAGS_RELEASE="$cflags -DNDEBUG" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_FIND_ROOT_PATH="$prefix" "$@"
}

build_libpng() {
  cmake_emscripten "$1" "$1/build" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF \
    -DPNG_TESTS=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF -Dld-version-script=OFF \
    -DZLIB_INCLUDE_DIR="$prefix/include" -DZLIB_LIBRARY="$prefix/lib/libz.a"
  cmake --build "$1/build" -j"$jobs"
  cmake --install "$1/build"
}

# Only the library: the tools and test programs would each need a slow emcc link.
build_libjpeg() {
  cmake_emscripten "$1" "$1/build" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF
  cmake --build "$1/build" -j"$jobs" --target jpeg-static
  install -D -m644 "$1/build/libjpeg.a" "$prefix/lib/libjpeg.a"
  install -m644 "$1/jpeglib.h" "$1/jerror.h" "$1/jmorecfg.h" "$1/build/jconfig.h" "$prefix/include/"
  sed 's|^libdir=.*|libdir=${exec_prefix}/lib|' "$1/build/pkgscripts/libjpeg.pc" >"$prefix/lib/pkgconfig/libjpeg.pc"
}

# This release's configure builds the programs and the output library too; make and install the
# decoder library alone.
build_mpg123() {
  cd "$1"
  CC=$tools/emcc AR=$ar RANLIB=$ranlib CFLAGS=$cflags ./configure --host=wasm32-unknown-none \
    --prefix="$prefix" --disable-shared --enable-static --with-cpu=generic_fpu --disable-modules \
    --with-audio=dummy --with-default-audio=dummy --disable-network --disable-ipv6
  make -j"$jobs" src/libmpg123/libmpg123.la
  install -D -m644 src/libmpg123/.libs/libmpg123.a "$prefix/lib/libmpg123.a"
  install -m644 src/libmpg123/mpg123.h src/libmpg123/fmt123.h "$prefix/include/"
  install -D -m644 libmpg123.pc "$prefix/lib/pkgconfig/libmpg123.pc"
}

# Video, audio, events and timers on the browser backends (plus the dummy drivers, which let node
# run the check); no threads, and nothing else. Its hundred and seventy configure tests look for
# C library functions with their headers: compiling them answers the same (the same SDL_config.h)
# without a slow emcc link each. Only two tests need a link to answer; their linked answers are
# given: there is no separate iconv library, and no-undefined is no linker flag here.
build_sdl2() {
  cmake_emscripten "$1" "$1/build" -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY \
    -DHAVE_LIBICONV= -DHAVE_NO_UNDEFINED= -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF \
    -DSDL2_DISABLE_SDL2MAIN=ON -DSDL2_DISABLE_UNINSTALL=ON -DSDL_CCACHE=OFF \
    -DSDL_THREADS=OFF -DSDL_ATOMIC=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF \
    -DSDL_SENSOR=OFF -DSDL_POWER=OFF -DSDL_LOCALE=OFF -DSDL_MISC=OFF -DSDL_FILESYSTEM=OFF \
    -DSDL_LOADSO=OFF -DSDL_CPUINFO=OFF -DSDL_RENDER=OFF -DSDL_DISKAUDIO=OFF -DSDL_OFFSCREEN=OFF
  cmake --build "$1/build" -j"$jobs"
  cmake --install "$1/build"
}

build_ffmpeg() {
  cd "$1"
  ./configure --prefix="$prefix" --target-os=none --arch=x86_32 --enable-cross-compile \
    --cc="$tools/emcc" --cxx=em++ --ar="$ar" --ranlib="$ranlib" --nm="$nm" \
    --extra-cflags="$cflags" --disable-asm --disable-inline-asm --disable-x86asm \
    --disable-stripping --disable-programs --disable-doc --disable-debug \
    --disable-runtime-cpudetect --disable-autodetect --disable-pthreads --disable-w32threads \
    --disable-os2threads --disable-network --disable-avdevice --disable-avfilter \
    --disable-swresample --disable-postproc --disable-everything \
    --enable-demuxer=avi --enable-protocol=file \
    --enable-decoder=mjpeg --enable-encoder=mjpeg --enable-parser=mjpeg
  make -j"$jobs"
  make install
}

# run_timed <name> <version> <function> <dir>: logs to $cache/log/<name>.log, one line per library.
run_timed() {
  local name=$1 version=$2 fn=$3 dir=$4 start=$SECONDS log=$cache/log/$1.log
  mkdir -p "$cache/log"
  # In the background, so that errexit still holds inside the build function. The processor time
  # is printed too: it tells what a machine of free cores takes when this one is shared.
  (TIMEFORMAT='%U %S'; { time "$fn" "$dir" >"$log" 2>&1; } 2>"$log.cpu") &
  if ! wait $!; then
    tail -n 30 "$log" >&2
    die "$name failed to build; the whole log is $log"
  fi
  local user system
  read -r user system <"$log.cpu" || true
  user=${user%.*} system=${system%.*}
  printf '%-14s %-22s %4d s  (processor %d s)\n' "$name" "$version" $((SECONDS - start)) \
    $((${user:-0} + ${system:-0}))
}

# --- Check --------------------------------------------------------------------------------------
check_source() {
  cat <<'EOF'
// Links every library of the prefix into one program and uses each once under node.
#include <SDL2/SDL.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>
#include <mpg123.h>
#include <png.h>
#include <vector>
#include <zlib.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

static int failures = 0;
static void expect(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

static bool decodeJpeg(const char* path, int wantWidth, int wantHeight) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<unsigned char> row(info.output_width * 3);
    unsigned long sum = 0;
    while (info.output_scanline < info.output_height) {
        unsigned char* rows[1] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
        for (unsigned char c : row) sum += c;
    }
    bool ok = (int)info.output_width == wantWidth && (int)info.output_height == wantHeight && sum > 0;
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return ok;
}

// Writes a small gradient through libpng (and so zlib) and reads it back.
static bool roundTripPng(const char* path) {
    const int size = 16;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = size;
    image.height = size;
    image.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> pixels(size * size * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (unsigned char)(i * 7);
    if (!png_image_write_to_file(&image, path, 0, pixels.data(), 0, nullptr)) return false;
    png_image back{};
    back.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&back, path)) return false;
    back.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> read(PNG_IMAGE_SIZE(back));
    if (!png_image_finish_read(&back, nullptr, read.data(), 0, nullptr)) return false;
    return read == pixels && std::strcmp(zlibVersion(), ZLIB_VERSION) == 0;
}

static bool decodeMp3(const char* path) {
    mpg123_init();
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    if (!handle || mpg123_open(handle, path) != MPG123_OK) return false;
    long rate = 0;
    int channels = 0, encoding = 0;
    std::vector<unsigned char> buffer(16384);
    size_t done = 0;
    // The first read only reports the stream's format.
    int result = MPG123_NEW_FORMAT;
    for (int tries = 0; tries < 4 && done == 0 && (result == MPG123_OK || result == MPG123_NEW_FORMAT); ++tries)
        result = mpg123_read(handle, buffer.data(), buffer.size(), &done);
    mpg123_getformat(handle, &rate, &channels, &encoding);
    off_t length = mpg123_length(handle);
    bool seek = mpg123_seek(handle, length / 2, SEEK_SET) >= 0;
    mpg123_close(handle);
    mpg123_delete(handle);
    return (result == MPG123_OK || result == MPG123_NEW_FORMAT) && done > 0 && rate == 44100 && seek;
}

// Opens the AVI, decodes its first MJPEG frame, converts it to BGR and encodes it again.
static bool decodeAvi(const char* path, int wantWidth, int wantHeight) {
    av_log_set_level(AV_LOG_ERROR);
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path, nullptr, nullptr) < 0) return false;
    if (avformat_find_stream_info(format, nullptr) < 0) return false;
    AVCodecParameters* parameters = format->streams[0]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    if (!codec || parameters->codec_id != AV_CODEC_ID_MJPEG) return false;
    AVCodecContext* decoder = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(decoder, parameters);
    if (avcodec_open2(decoder, codec, nullptr) < 0) return false;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    bool got = false;
    while (!got && av_read_frame(format, packet) >= 0) {
        if (avcodec_send_packet(decoder, packet) >= 0 && avcodec_receive_frame(decoder, frame) >= 0) got = true;
        av_packet_unref(packet);
    }
    bool ok = got && frame->width == wantWidth && frame->height == wantHeight;
    if (ok) {
        SwsContext* toBgr = sws_getContext(frame->width, frame->height, (AVPixelFormat)frame->format, frame->width,
                                           frame->height, AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        std::vector<uint8_t> bgr(frame->width * frame->height * 3);
        uint8_t* planes[1] = {bgr.data()};
        int strides[1] = {frame->width * 3};
        ok = toBgr && sws_scale(toBgr, frame->data, frame->linesize, 0, frame->height, planes, strides) == frame->height;
        sws_freeContext(toBgr);

        const AVCodec* encoderCodec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
        AVCodecContext* encoder = encoderCodec ? avcodec_alloc_context3(encoderCodec) : nullptr;
        if (ok && encoder) {
            encoder->width = frame->width;
            encoder->height = frame->height;
            encoder->pix_fmt = (AVPixelFormat)frame->format;
            encoder->time_base = AVRational{1, 25};
            ok = avcodec_open2(encoder, encoderCodec, nullptr) >= 0 && avcodec_send_frame(encoder, frame) >= 0 &&
                 avcodec_receive_packet(encoder, packet) >= 0 && packet->size > 0;
            av_packet_unref(packet);
        } else {
            ok = false;
        }
        avcodec_free_context(&encoder);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
    return ok;
}

// Node has no canvas and no Web Audio: the browser drivers must be built in, and SDL must start
// its subsystems (on the dummy drivers here).
static bool startSdl() {
    bool browserVideo = false, browserAudio = false;
    for (int i = 0; i < SDL_GetNumVideoDrivers(); ++i)
        browserVideo |= std::strcmp(SDL_GetVideoDriver(i), "emscripten") == 0;
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i)
        browserAudio |= std::strcmp(SDL_GetAudioDriver(i), "emscripten") == 0;
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
    SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_AUDIO | SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
        std::printf("SDL_Init: %s\n", SDL_GetError());
        return false;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
    }
    SDL_Quit();
    return browserVideo && browserAudio;
}

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    expect(decodeJpeg(argv[1], 64, 48), "libjpeg decodes a 64x48 JPEG");
    expect(roundTripPng(argv[2]), "libpng and zlib write and read back a PNG");
    expect(decodeMp3(argv[3]), "libmpg123 decodes and seeks an MP3");
    expect(decodeAvi(argv[4], 64, 48), "FFmpeg demuxes an AVI, decodes, converts and encodes MJPEG");
    expect(startSdl(), "SDL2 has the browser drivers and starts video, audio, timer and events");
    return failures == 0 ? 0 : 1;
}
EOF
}

run_check() {
  local dir=$cache/check start=$SECONDS
  rm -rf "$dir"
  mkdir -p "$dir"
  command -v ffmpeg >/dev/null || die "the check needs the host ffmpeg to make its inputs"
  ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 1 "$dir/in.jpg"
  ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 3 -c:v mjpeg "$dir/in.avi"
  ffmpeg -v error -f lavfi -i sine=frequency=440:sample_rate=44100:duration=0.5 -c:a libmp3lame "$dir/in.mp3"
  check_source >"$dir/check.cpp"
  local libs
  libs=$(PKG_CONFIG_LIBDIR=$prefix/lib/pkgconfig pkg-config --static --libs libavformat libavcodec libswscale \
    libavutil libpng libjpeg libmpg123 sdl2 zlib)
  (cd "$dir" && em++ -O1 -std=c++20 -I"$prefix/include" check.cpp -o check.js -L"$prefix/lib" $libs \
    -sENVIRONMENT=node -sNODERAWFS=1 -sWASM_ASYNC_COMPILATION=0 -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1) ||
    die "the check program does not link"
  (cd "$dir" && node check.js in.jpg out.png in.mp3 in.avi) || die "the check failed under node"
  printf '%-14s %-22s %4d s\n' check "em++ and node" $((SECONDS - start))
}

# --- Main ---------------------------------------------------------------------------------------
if [ "$mode" = check ]; then
  [ -d "$prefix/lib" ] || die "nothing built in $prefix yet"
  run_check
  exit 0
fi

total=$SECONDS
ensure_deb_src
make_tools
rm -rf "$prefix" "$cache/src"
mkdir -p "$prefix/include" "$prefix/lib/pkgconfig" "$cache/src"

# source package | binary package the native build uses | build function
libraries=(
  "zlib zlib1g-dev build_zlib"
  "libpng1.6 libpng-dev build_libpng"
  "libjpeg-turbo libjpeg62-turbo-dev build_libjpeg"
  "mpg123 libmpg123-dev build_mpg123"
  "libsdl2 libsdl2-dev build_sdl2"
  "ffmpeg libavformat-dev build_ffmpeg"
)
declare -A source_dir
for entry in "${libraries[@]}"; do
  read -r pkg binary _ <<<"$entry"
  source_dir[$pkg]=$(fetch_source "$pkg" "$binary")
done
build() {
  local entry pkg fn dir
  for entry in "${libraries[@]}"; do
    read -r pkg _ fn <<<"$entry"
    [ "$pkg" = "$1" ] || continue
    dir=${source_dir[$pkg]}
    run_timed "$pkg" "$(basename "$dir" | sed "s/^$pkg-//")" "$fn" "$dir"
  done
}
# The configure scripts run one test at a time, so three independent chains keep both cores busy
# (libpng alone needs another library: zlib).
pids=()
(build zlib && build libpng1.6 && build libjpeg-turbo && build mpg123) &
pids+=($!)
build libsdl2 &
pids+=($!)
build ffmpeg &
pids+=($!)
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
[ $failed = 0 ] || die "a library failed to build (logs in $cache/log)"

# pkg-config files that find the prefix from where they are, so the cache can move.
for pc in "$prefix"/lib/pkgconfig/*.pc; do
  sed -i -e "s|^prefix=$prefix\$|prefix=\${pcfiledir}/../..|" -e "s|$prefix|\${prefix}|g" "$pc"
done
run_check
rm -rf "$cache/src"
touch "$stamp"
echo "Web libraries ready in $prefix ($((SECONDS - total)) s)"
