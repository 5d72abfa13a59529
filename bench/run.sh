#!/usr/bin/env bash
# Benchmarks unpak on about 20 minutes of real music: wall time on every core
# and on one (taskset -c 0) against mpg123 decoding the same MP3 files, the CPU
# time of both unpak runs, and peak memory not counting the mapped archive;
# then the same music as one 20-minute entry, on every core against mpg123 and
# against one core's output and transcript; then pak create of the music's
# WAV files on every core against a lame loop and against pak create -j 1.
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
LAME_PACKAGE=lame          # the lame program, which pak create is timed against
MUSIC_DIR=/usr/share/planetblupi/music
CLIP_SECONDS=120          # from each of the package's 10 tracks
CORPUS_RECIPE="first ${CLIP_SECONDS}s, 44100 Hz stereo, 16-bit WAV"
PARALLEL_TARGET=0.55      # unpak on every core: wall time at most this times mpg123's
SERIAL_TARGET=1.00        # unpak on one core
SINGLE_TARGET=0.55        # one long entry on every core
CPU_TARGET=1.05           # CPU time on every core at most this times the serial run's
CREATE_TARGET=0.55        # pak create on every core: wall time at most this times a lame loop's
CREATE_SERIAL_TARGET=0.60 # pak create on every core against pak create -j 1
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

# Installs a Debian package that the benchmark needs (as root).
# The packages the benchmark needs are installed by setup.sh.
need_package() {
  log "the benchmark needs Debian's $1: run ./setup.sh (as root)"
  exit 2
}

check_music() { [[ -d $MUSIC_DIR ]] || need_package "$MUSIC_PACKAGE"; }

# One WAV file per track in $WORK/wav, kept between runs while the recipe is
# the same; music.pak made from them with pak create (128 kbps) whenever pak
# is newer; each entry's MP3 stream in $WORK/mp3 for mpg123.
prepare_corpus() {
  check_music
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
  prepare_long_entry
}

# long.pak: the corpus's tracks joined into one WAV file, one entry.
prepare_long_entry() {
  local wav=$WORK/long/long.wav
  if [[ ! -s $wav || $wav -ot $WORK/recipe ]]; then
    log "joining the tracks into one entry"
    mkdir -p "$WORK/long"
    printf "file '%s'\n" "$WORK"/wav/*.wav >"$WORK/long-list.txt"
    ffmpeg -v error -nostdin -y -f concat -safe 0 -i "$WORK/long-list.txt" -c copy "$wav.tmp.wav"
    mv "$wav.tmp.wav" "$wav"
    rm -f "$WORK/long.pak"
  fi
  if [[ ! $WORK/long.pak -nt $BUILD/bin/pak ]]; then
    log "pak create long.pak"
    "$BUILD/bin/pak" create -b 128 "$WORK/long.pak" -C "$WORK/long" . >/dev/null
  fi
  rm -rf "$WORK/mp3-long" && mkdir -p "$WORK/mp3-long"
  python3 "$BENCH/extract_mp3.py" "$WORK/long.pak" "$WORK/mp3-long" >/dev/null
  LONG_MP3=("$WORK"/mp3-long/*.mp3)
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

# One long entry: unpak on every core and on one, each with its transcript,
# and mpg123, alternating.
time_long_entry() {
  local long=() mpg123=() rep wall cpu
  for ((rep = 0; rep <= REPS; rep++)); do  # pass 0 warms up and is not counted
    fresh_dir "$WORK/out-long"
    fresh_dir "$WORK/out-long-serial"
    read -r wall cpu < <(seconds bash -c 'cd "$1" && "$2" "$3" >../long-transcript.txt' _ \
      "$WORK/out-long" "$BUILD/bin/unpak" "$WORK/long.pak") || { log "unpak failed"; return 1; }
    long+=("$wall")
    (cd "$WORK/out-long-serial" && taskset -c 0 "$BUILD/bin/unpak" "$WORK/long.pak" \
      >../long-transcript-serial.txt) || { log "unpak on one core failed"; return 1; }
    read -r wall cpu < <(seconds mpg123 -q --no-gapless -w "$WORK/long-mpg123.wav" "${LONG_MP3[0]}") ||
      { log "mpg123 failed"; return 1; }
    mpg123+=("$wall")
  done
  LONG_SECONDS=$(median "${long[@]:1}")
  LONG_MPG123_SECONDS=$(median "${mpg123[@]:1}")
}

run_create() {
  "$BUILD/bin/pak" create -b 128 "$WORK/create.pak" -C "$WORK/wav" . >"$WORK/create-transcript.txt"
}
run_create_serial() {
  "$BUILD/bin/pak" create -j 1 -b 128 "$WORK/create-serial.pak" -C "$WORK/wav" . \
    >"$WORK/create-transcript-serial.txt"
}
run_lame() {
  local wav
  for wav in "$WORK"/wav/*.wav; do
    lame --quiet -b 128 -q 2 "$wav" "$WORK/out-lame/$(basename "$wav" .wav).mp3"
  done
}

# Times pak create on every core and with -j 1, and the lame loop, alternating.
time_encoders() {
  command -v lame >/dev/null || need_package "$LAME_PACKAGE"
  cat "$WORK"/wav/*.wav "$BUILD/bin/pak" "$(command -v lame)" >/dev/null
  local create=() create_cpu=() serial=() serial_cpu=() lame=() rep wall cpu
  for ((rep = 0; rep <= REPS; rep++)); do  # pass 0 warms up and is not counted
    fresh_dir "$WORK/out-lame"
    read -r wall cpu < <(seconds run_create) || { log "pak create failed"; return 1; }
    create+=("$wall") create_cpu+=("$cpu")
    read -r wall cpu < <(seconds run_create_serial) || { log "pak create -j 1 failed"; return 1; }
    serial+=("$wall") serial_cpu+=("$cpu")
    read -r wall cpu < <(seconds run_lame) || { log "lame failed"; return 1; }
    lame+=("$wall")
  done
  CREATE_SECONDS=$(median "${create[@]:1}")
  CREATE_CPU=$(median "${create_cpu[@]:1}")
  CREATE_SERIAL_SECONDS=$(median "${serial[@]:1}")
  CREATE_SERIAL_CPU=$(median "${serial_cpu[@]:1}")
  LAME_SECONDS=$(median "${lame[@]:1}")
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
  log "timing $REPS repetitions (load average $(cut -d" " -f1-3 /proc/loadavg))"
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

  if time_long_entry; then
    report_ratio single "$(ratio "$LONG_SECONDS" "$LONG_MPG123_SECONDS")" "$SINGLE_TARGET" \
      "one 20-minute entry: unpak ${LONG_SECONDS}s on every core ($(nproc)), mpg123 ${LONG_MPG123_SECONDS}s"
    local same=1
    diff -r "$WORK/out-long" "$WORK/out-long-serial" >&2 || same=0
    cmp "$WORK/long-transcript.txt" "$WORK/long-transcript-serial.txt" >&2 || same=0
    report single-outputs "$same" "one 20-minute entry: file and transcript on every core equal one core's"
  else
    report single 0 "no timing of the long entry: a decoder failed"
  fi

  if time_encoders; then
    report_ratio create "$(ratio "$CREATE_SECONDS" "$LAME_SECONDS")" "$CREATE_TARGET" \
      "pak create ${CREATE_SECONDS}s on every core ($(nproc)), a lame loop ${LAME_SECONDS}s"
    report_ratio create-serial "$(ratio "$CREATE_SECONDS" "$CREATE_SERIAL_SECONDS")" \
      "$CREATE_SERIAL_TARGET" "pak create ${CREATE_SECONDS}s on every core, ${CREATE_SERIAL_SECONDS}s with -j 1"
    report_ratio create-cpu "$(ratio "$CREATE_CPU" "$CREATE_SERIAL_CPU")" "$CPU_TARGET" \
      "pak create CPU time ${CREATE_CPU}s on every core, ${CREATE_SERIAL_CPU}s with -j 1"
    local same=1
    cmp "$WORK/create.pak" "$WORK/create-serial.pak" >&2 || same=0
    cmp "$WORK/create-transcript.txt" "$WORK/create-transcript-serial.txt" >&2 || same=0
    report create-outputs "$same" "pak create: archive and transcript on every core equal -j 1's"
  else
    report create 0 "no timing of pak create: an encoder failed"
  fi

  fresh_dir "$WORK/out-unpak"
  local peaks peak archive_rss ok status=0
  peaks=$(cd "$WORK/out-unpak" &&
    python3 "$BENCH/peak_rss.py" "$WORK/music.pak" "$BUILD/bin/unpak" "$WORK/music.pak") || status=$?
  read -r peak archive_rss <<<"$peaks"
  ok=$(awk -v p="$peak" -v t="$MEMORY_TARGET_MIB" -v s="$status" 'BEGIN { print (s == 0 && p < t) }')
  report memory "$ok" "unpak peak ${peak} MiB without the archive mapping (up to ${archive_rss} MiB), exit status $status (target < $MEMORY_TARGET_MIB MiB)"

  rm -rf "$WORK/out-unpak" "$WORK/out-serial" "$WORK/out-mpg123" "$WORK/out-long" \
    "$WORK/out-long-serial" "$WORK/long-mpg123.wav" "$WORK/out-lame" "$WORK/create.pak" \
    "$WORK/create-serial.pak"
  log "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  return "$FAILED"
}

# Sourced by the other benchmarks for its steps; run, it measures unpak.
if [[ ${BASH_SOURCE[0]} == "$0" ]]; then main; fi
