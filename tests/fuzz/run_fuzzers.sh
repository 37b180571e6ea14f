#!/usr/bin/env bash
# Runs the loaders' fuzzers: seeds each corpus from the generated data set and
# the seed tool, then fuzzes every target for the given seconds, two targets
# at a time, at low priority. Crashing inputs land in <build>/fuzz/crashes/.
# Usage: tests/fuzz/run_fuzzers.sh <fuzz build folder> <seconds per target> [targets...]
# The build folder is configured with clang and -DGFXCORE_FUZZ=ON; the data
# set is taken from <normal build>/show/data (GFXCORE_DATA, default build/show/data).
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(model3ds texture_file video_clip mp3_stream)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
data=${GFXCORE_DATA:-$source_dir/build/show/data}
work=$build/fuzz
mkdir -p "$work/crashes" "$work/seeds"

"$build/tests/fuzz/gfxcore-fuzz-seeds" "$work/seeds"
for target in "${targets[@]}"; do
  corpus=$work/corpus/$target
  mkdir -p "$corpus"
  [ -d "$work/seeds/$target" ] && cp -n "$work/seeds/$target"/* "$corpus"/ 2>/dev/null || true
  case $target in
    model3ds) cp -n "$data"/*.3ds "$corpus"/ ;;
    texture_file)
      # Small pictures of each kind, behind the two bytes that choose size and format.
      for picture in money.jpg 1.jpg env3.jpg levend10.png levend31.png pijl-1.png; do
        [ -f "$corpus/$picture" ] || { printf '\x33\x01'; cat "$data/$picture"; } > "$corpus/$picture"
      done ;;
    mp3_stream) [ -f "$corpus/music-head.mp3" ] || head -c 16384 "$data/Music.mp3" > "$corpus/music-head.mp3" ;;
  esac
  # Regression inputs are seeds too: fuzzing goes on around them.
  [ -d "$source_dir/tests/fuzz/regressions/$target" ] && cp -n "$source_dir/tests/fuzz/regressions/$target"/* "$corpus"/ 2>/dev/null || true
done

run_one() {
  local target=$1
  local executable=$build/tests/fuzz/gfxcore-fuzz-${target//_/-}
  mkdir -p "$work/crashes/$target"
  nice -n 10 "$executable" "$work/corpus/$target" -max_total_time="$seconds" -max_len=65536 -timeout=20 \
    -rss_limit_mb=4096 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$work/crashes/$target/" \
    > "$work/$target.log" 2>&1 || echo "$target: fuzzer stopped with status $? (see $work/$target.log)"
  echo "$target: $(grep -E 'stat::number_of_executed_units' "$work/$target.log" | tail -1)"
}

running=0
for target in "${targets[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ $running -ge 2 ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
