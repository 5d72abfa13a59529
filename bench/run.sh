#!/usr/bin/env bash
# Benchmarks unpak on about 20 minutes of real music: wall time on every core
# and on one (taskset -c 0) against mpg123 decoding the same MP3 files, the CPU
# time of both unpak runs, and peak memory not counting the mapped archive.
#
# Usage: bench/run.sh [BUILD_DIR]      (default: build-bench in the source tree)
# REPS=N sets the number of timed repetitions (default 5; the median counts).
set -euo pipefail
export LC_ALL=C

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BENCH=$ROOT/bench
BUILD=$(realpath -m "${1:-$ROOT/build-bench}")
WORK=$BENCH/work
REPS=${REPS:-5}

MUSIC_PACKAGE=planetblupi-music-ogg
MUSIC_DIR=/usr/share/planetblupi/music
CLIP_SECONDS=120          # from each of the package's 10 tracks
CORPUS_RECIPE="first ${CLIP_SECONDS}s, 44100 Hz stereo, 16-bit WAV"
PARALLEL_TARGET=0.55      # unpak on every core: wall time at most this times mpg123's
SERIAL_TARGET=1.00        # unpak on one core
CPU_TARGET=1.05           # CPU time on every core at most this times the serial run's
MEMORY_TARGET_MIB=32      # peak Rss outside the archive mapping below this

log() { printf '%s\n' "$*" >&2; }

build() {
  local type_option=()
  [[ -f $BUILD/CMakeCache.txt ]] || type_option=(-DCMAKE_BUILD_TYPE=Release)
  cmake -S "$ROOT" -B "$BUILD" "${type_option[@]}" >/dev/null
  local build_type
  build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$BUILD/CMakeCache.txt")
  case $build_type in
    Release | RelWithDebInfo) ;;
    *) log "warning: $BUILD is a '$build_type' build; timings need Release or RelWithDebInfo" ;;
  esac
  log "building unpak ($build_type) in $BUILD"
  cmake --build "$BUILD" -j"$(nproc)" --target unpak unpak_codec pak >/dev/null
}

install_music() {
  [[ -d $MUSIC_DIR ]] && return
  if [[ $(id -u) -ne 0 ]]; then
    log "the music corpus needs Debian's $MUSIC_PACKAGE: sudo apt-get install $MUSIC_PACKAGE"
    exit 2
  fi
  log "installing $MUSIC_PACKAGE"
  apt-get install -y -q "$MUSIC_PACKAGE" >/dev/null ||
    { apt-get update -q >/dev/null && apt-get install -y -q "$MUSIC_PACKAGE" >/dev/null; }
}

# One WAV file per track in $WORK/wav, kept between runs while the recipe is
# the same; music.pak made from them with pak create (128 kbps) whenever pak
# is newer; each entry's MP3 stream in $WORK/mp3 for mpg123.
prepare_corpus() {
  install_music
  mkdir -p "$WORK/wav"
  if [[ $(cat "$WORK/recipe" 2>/dev/null) != "$CORPUS_RECIPE" ]]; then
    rm -f "$WORK"/wav/*.wav "$WORK/music.pak"
    printf '%s\n' "$CORPUS_RECIPE" >"$WORK/recipe"
  fi
  local ogg name
  for ogg in "$MUSIC_DIR"/*.ogg; do
    name=$(basename "$ogg" .ogg)
    [[ -s $WORK/wav/$name.wav ]] && continue
    log "decoding $name"
    ffmpeg -v error -nostdin -y -i "$ogg" -t "$CLIP_SECONDS" -ar 44100 -ac 2 \
      -c:a pcm_s16le "$WORK/wav/$name.tmp.wav"
    mv "$WORK/wav/$name.tmp.wav" "$WORK/wav/$name.wav"
  done
  if [[ ! $WORK/music.pak -nt $BUILD/bin/pak ]]; then
    log "pak create music.pak"
    "$BUILD/bin/pak" create -b 128 "$WORK/music.pak" -C "$WORK/wav" . >/dev/null
  fi
  rm -rf "$WORK/mp3" && mkdir -p "$WORK/mp3"
  CODEC_DELAY=$(python3 "$BENCH/extract_mp3.py" "$WORK/music.pak" "$WORK/mp3")
  MP3S=("$WORK"/mp3/*.mp3)
}

# "wall cpu" seconds of one command (cpu: user + system, its children
# included); prints nothing if the command fails.
seconds() {
  local TIMEFORMAT='%R %U %S' timing
  timing=$({ time "$@" >/dev/null </dev/null; } 2>&1) || return
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' <<<"$timing"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

fresh_dir() { rm -rf "$1" && mkdir -p "$1"; }

run_unpak() { (cd "$WORK/out-unpak" && "$BUILD/bin/unpak" "$WORK/music.pak"); }
run_unpak_serial() { (cd "$WORK/out-serial" && taskset -c 0 "$BUILD/bin/unpak" "$WORK/music.pak"); }

run_mpg123() {
  local mp3
  for mp3 in "${MP3S[@]}"; do
    mpg123 -q --no-gapless -w "$WORK/out-mpg123/$(basename "$mp3" .mp3).wav" "$mp3"
  done
}

# Times the decoders, alternating so that drift affects all alike.
time_decoders() {
  cat "$WORK/music.pak" "${MP3S[@]}" "$BUILD/bin/unpak" "$(command -v mpg123)" >/dev/null
  local unpak=() unpak_cpu=() serial=() serial_cpu=() mpg123=() rep wall cpu
  for ((rep = 0; rep <= REPS; rep++)); do  # pass 0 warms up and is not counted
    fresh_dir "$WORK/out-unpak"
    fresh_dir "$WORK/out-serial"
    fresh_dir "$WORK/out-mpg123"
    read -r wall cpu < <(seconds run_unpak) || { log "unpak failed"; return 1; }
    unpak+=("$wall") unpak_cpu+=("$cpu")
    read -r wall cpu < <(seconds run_unpak_serial) || { log "unpak on one core failed"; return 1; }
    serial+=("$wall") serial_cpu+=("$cpu")
    read -r wall cpu < <(seconds run_mpg123) || { log "mpg123 failed"; return 1; }
    mpg123+=("$wall")
  done
  UNPAK_SECONDS=$(median "${unpak[@]:1}")
  UNPAK_CPU=$(median "${unpak_cpu[@]:1}")
  SERIAL_SECONDS=$(median "${serial[@]:1}")
  SERIAL_CPU=$(median "${serial_cpu[@]:1}")
  MPG123_SECONDS=$(median "${mpg123[@]:1}")
}

# Reports `value` (a ratio) against `target`: name, value, target, text.
report_ratio() {
  report "$1" "$(awk -v r="$2" -v t="$3" 'BEGIN { print (r <= t) }')" "$4 (ratio $2, target <= $3)"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

report() {  # name, passed (0/1), text
  local verdict=FAIL
  (($2)) && verdict=PASS
  printf '%-8s %s  %s\n' "$1" "$verdict" "$3"
  (($2)) || FAILED=1
}

main() {
  build
  prepare_corpus
  local minutes
  minutes=$(awk -v n=${#MP3S[@]} -v s=$CLIP_SECONDS 'BEGIN { printf "%.1f", n * s / 60 }')
  log "corpus: ${#MP3S[@]} files, about $minutes min, music.pak $(du -h "$WORK/music.pak" | cut -f1)"

  FAILED=0
  local timed=0
  log "timing $REPS repetitions"
  if time_decoders; then timed=1; fi

  if ((timed)); then
    log "cores usable: $(nproc)"
    report_ratio parallel "$(ratio "$UNPAK_SECONDS" "$MPG123_SECONDS")" "$PARALLEL_TARGET" \
      "unpak ${UNPAK_SECONDS}s on every core, mpg123 ${MPG123_SECONDS}s"
    report_ratio serial "$(ratio "$SERIAL_SECONDS" "$MPG123_SECONDS")" "$SERIAL_TARGET" \
      "unpak ${SERIAL_SECONDS}s on one core, mpg123 ${MPG123_SECONDS}s"
    report_ratio cpu "$(ratio "$UNPAK_CPU" "$SERIAL_CPU")" "$CPU_TARGET" \
      "CPU time ${UNPAK_CPU}s on every core, ${SERIAL_CPU}s on one"
    local outputs_ok=1
    python3 "$BENCH/check_outputs.py" "$WORK/out-unpak" "$WORK/out-mpg123" "$CODEC_DELAY" >&2 ||
      outputs_ok=0
    diff -r "$WORK/out-unpak" "$WORK/out-serial" >&2 || outputs_ok=0
    report outputs "$outputs_ok" "unpak's WAV files against mpg123's decoding, and every core's against one's"
  else
    report speed 0 "no timing: a decoder failed"
  fi

  fresh_dir "$WORK/out-unpak"
  local peaks peak archive_rss ok status=0
  peaks=$(cd "$WORK/out-unpak" &&
    python3 "$BENCH/peak_rss.py" "$WORK/music.pak" "$BUILD/bin/unpak" "$WORK/music.pak") || status=$?
  read -r peak archive_rss <<<"$peaks"
  ok=$(awk -v p="$peak" -v t="$MEMORY_TARGET_MIB" -v s="$status" 'BEGIN { print (s == 0 && p < t) }')
  report memory "$ok" "unpak peak ${peak} MiB without the archive mapping (up to ${archive_rss} MiB), exit status $status (target < $MEMORY_TARGET_MIB MiB)"

  rm -rf "$WORK/out-unpak" "$WORK/out-serial" "$WORK/out-mpg123"
  return "$FAILED"
}

# Sourced by the other benchmarks for its steps; run, it measures unpak.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then main; fi
