#!/usr/bin/env bash
# make bench-render: pelvane-render against FluidSynth on two generated MIDI
# files, whole processes (start-up, loading and writing the WAV file
# included), each the best wall time of three runs, as x real time:
#   song    3 minutes of dense chords (four channels, a four-note chord on
#           each every eighth note at 120 bpm, held a quarter, sustain pedal
#           every other bar; 23,764 messages)
#   sparse  10 minutes of melody and accompaniment, one to eight notes held
#           at once, none of them a sound with a long release (23,771
#           messages)
# Pelvane plays both with the example instrument set the pieces were written
# for (examples/: organ, bass, pad), the song also with the built-in tone;
# FluidSynth plays them with FluidR3_GM, once as a user would run it (its
# defaults: reverb and chorus on) and once with reverb and chorus off
# (-R 0 -C 0), which is closer to what Pelvane does. The ratios are
# FluidSynth's time over Pelvane's. Log lines go to /dev/null.
# Usage: bench/render.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:-build-bench}")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
render="$build/tools/pelvane-render"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/bench/render_song" song 180 song.mid
"$build/bench/render_sparse" piece 600 sparse.mid

# Best wall time of three runs of a command, in seconds.
best_of_three() {
  local best="" start end took
  for _ in 1 2 3; do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    end=$(date +%s.%N)
    took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$best" ] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$took; fi
  done
  echo "$best"
}

mkdir tone
declare -A took
for piece in song sparse; do
  took[$piece.kit]=$(best_of_three "$render" --dir "$source_dir/examples" $piece.mid kit.wav)
  # FluidSynth renders for as long as any voice sounds; both pieces release
  # every note, and the time limit only guards against a runaway render.
  took[$piece.fluid]=$(best_of_three timeout 1200 fluidsynth -ni -F fluid.wav -r 44100 "$soundfont" $piece.mid)
  took[$piece.dry]=$(best_of_three timeout 1200 fluidsynth -ni -R 0 -C 0 -F fluid.wav -r 44100 "$soundfont" $piece.mid)
done
took[song.tone]=$(cd tone && best_of_three "$render" ../song.mid ../tone.wav)
for piece in song sparse; do
  "$render" --dir "$source_dir/examples" $piece.mid kit.wav 2>&1 | tail -n 1
done

awk -v song_kit="${took[song.kit]}" -v song_tone="${took[song.tone]}" \
    -v song_fluid="${took[song.fluid]}" -v song_dry="${took[song.dry]}" \
    -v sparse_kit="${took[sparse.kit]}" -v sparse_fluid="${took[sparse.fluid]}" \
    -v sparse_dry="${took[sparse.dry]}" 'BEGIN {
  row = "%-44s %8.3f s wall %8.1fx real time\n"
  printf "song (180 s, dense chords)\n"
  printf row, "  pelvane-render, examples/", song_kit, 180 / song_kit
  printf row, "  pelvane-render, built-in tone", song_tone, 180 / song_tone
  printf row, "  fluidsynth, FluidR3_GM, defaults", song_fluid, 180 / song_fluid
  printf row, "  fluidsynth, FluidR3_GM, -R 0 -C 0", song_dry, 180 / song_dry
  printf "sparse (600 s, melody and accompaniment)\n"
  printf row, "  pelvane-render, examples/", sparse_kit, 600 / sparse_kit
  printf row, "  fluidsynth, FluidR3_GM, defaults", sparse_fluid, 600 / sparse_fluid
  printf row, "  fluidsynth, FluidR3_GM, -R 0 -C 0", sparse_dry, 600 / sparse_dry
  printf "pelvane-render (examples/) against fluidsynth, times faster:\n"
  printf "  song:   %6.1f (defaults)  %6.1f (-R 0 -C 0)\n", song_fluid / song_kit, song_dry / song_kit
  printf "  sparse: %6.1f (defaults)  %6.1f (-R 0 -C 0)\n", sparse_fluid / sparse_kit, sparse_dry / sparse_kit
}'
