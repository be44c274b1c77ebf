#!/usr/bin/env bash
# make bench-render: a generated 3-minute MIDI file of dense chords (four
# channels, a four-note chord on each every eighth note at 120 bpm, held a
# quarter, sustain pedal every other bar) rendered to WAV by pelvane-render
# and by FluidSynth on this machine; each the best of three runs, as x real
# time, and their ratio.
# Usage: bench/render.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:-build-bench}")
source_dir=$(cd "$(dirname "$0")/.." && pwd)
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
seconds=180
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/bench/render_song" song "$seconds" song.mid

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
# Whole processes, start-up and loading included, for both programs.
tone_s=$(cd tone && best_of_three "$build/tools/pelvane-render" ../song.mid ../tone.wav)
kit_s=$(best_of_three "$build/tools/pelvane-render" --dir "$source_dir/examples" song.mid kit.wav)
# FluidSynth renders for as long as any voice sounds; the song releases
# every note, and the time limit only guards against a runaway render.
fluid_s=$(best_of_three timeout 1200 fluidsynth -ni -F fluid.wav -r 44100 "$soundfont" song.mid)
(cd tone && "$build/tools/pelvane-render" ../song.mid ../tone.wav 2>&1 | tail -n 1)
"$build/tools/pelvane-render" --dir "$source_dir/examples" song.mid kit.wav 2>&1 | tail -n 1

awk -v n="$seconds" -v tone="$tone_s" -v kit="$kit_s" -v fluid="$fluid_s" 'BEGIN {
  printf "song: %d s, 4 channels of 4-note chords every eighth note at 120 bpm\n", n
  printf "pelvane-render, built-in tone:     %7.3f s wall  %7.1fx real time\n", tone, n / tone
  printf "pelvane-render, examples/ samples: %7.3f s wall  %7.1fx real time\n", kit, n / kit
  printf "fluidsynth, FluidR3_GM:            %7.3f s wall  %7.1fx real time\n", fluid, n / fluid
  printf "ratio pelvane/fluidsynth: %.1f (built-in tone), %.1f (examples/)\n", fluid / tone, fluid / kit
}'
