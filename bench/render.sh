#!/usr/bin/env bash
# make bench-render: pelvane-render against FluidSynth on two generated MIDI
# files, whole processes (start-up, loading and writing the WAV file
# included), each the minimum and the median wall time of RUNS runs (5), as
# x real time:
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
# (-R 0 -C 0), which is closer to what Pelvane does. Pelvane plays both once
# more with FluidR3_GM itself, imported by pelvane-import (scripts/import-gm:
# once, into $PELVANE_GM_HOME or ~/.local/share/pelvane-gm, a few seconds), so
# that the two play the same instruments. The ratios are FluidSynth's time
# over Pelvane's. Log lines go to /dev/null.
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

# Wall times of RUNS runs of a command (5 unless told), in seconds: prints
# "MIN MEDIAN". On a shared machine the minimum is the figure least disturbed
# by others, and the median says how far the others moved it.
runs=${RUNS:-5}
min_median() {
  local start end times=()
  for ((i = 0; i < runs; i++)); do
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
    end=$(date +%s.%N)
    times+=("$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')")
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END {
    printf "%s %s", t[1], (NR % 2 ? t[(NR + 1) / 2] : sprintf("%.3f", (t[NR / 2] + t[NR / 2 + 1]) / 2)) }'
}

gm=$("$source_dir/scripts/import-gm" "$build/tools/pelvane-import")
mkdir tone
declare -A took
for piece in song sparse; do
  took[$piece.kit]=$(min_median "$render" --dir "$source_dir/examples" $piece.mid kit.wav)
  took[$piece.gm]=$(min_median "$render" --dir "$gm" $piece.mid gm.wav)
  # FluidSynth renders for as long as any voice sounds; both pieces release
  # every note, and the time limit only guards against a runaway render.
  took[$piece.fluid]=$(min_median timeout 1200 fluidsynth -ni -F fluid.wav -r 44100 "$soundfont" $piece.mid)
  took[$piece.dry]=$(min_median timeout 1200 fluidsynth -ni -R 0 -C 0 -F fluid.wav -r 44100 "$soundfont" $piece.mid)
done
took[song.tone]=$(cd tone && min_median "$render" ../song.mid ../tone.wav)
for piece in song sparse; do
  "$render" --dir "$source_dir/examples" $piece.mid kit.wav 2>&1 | tail -n 1
done

# Each figure: min / median wall time, and x real time from the minimum; the
# ratios from the minima.
read -r song_kit song_kit_med <<<"${took[song.kit]}"
read -r song_tone song_tone_med <<<"${took[song.tone]}"
read -r song_fluid song_fluid_med <<<"${took[song.fluid]}"
read -r song_dry song_dry_med <<<"${took[song.dry]}"
read -r sparse_kit sparse_kit_med <<<"${took[sparse.kit]}"
read -r sparse_fluid sparse_fluid_med <<<"${took[sparse.fluid]}"
read -r sparse_dry sparse_dry_med <<<"${took[sparse.dry]}"
read -r song_gm song_gm_med <<<"${took[song.gm]}"
read -r sparse_gm sparse_gm_med <<<"${took[sparse.gm]}"
echo "min / median wall time of $runs runs; load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
awk -v song_kit="$song_kit" -v song_tone="$song_tone" -v song_fluid="$song_fluid" \
    -v song_dry="$song_dry" -v sparse_kit="$sparse_kit" -v sparse_fluid="$sparse_fluid" \
    -v sparse_dry="$sparse_dry" -v song_kit_med="$song_kit_med" -v song_tone_med="$song_tone_med" \
    -v song_fluid_med="$song_fluid_med" -v song_dry_med="$song_dry_med" \
    -v sparse_kit_med="$sparse_kit_med" -v sparse_fluid_med="$sparse_fluid_med" \
    -v sparse_dry_med="$sparse_dry_med" -v song_gm="$song_gm" -v song_gm_med="$song_gm_med" \
    -v sparse_gm="$sparse_gm" -v sparse_gm_med="$sparse_gm_med" 'BEGIN {
  row = "%-40s %8.3f / %8.3f s wall %8.1fx real time\n"
  printf "song (180 s, dense chords)\n"
  printf row, "  pelvane-render, examples/", song_kit, song_kit_med, 180 / song_kit
  printf row, "  pelvane-render, built-in tone", song_tone, song_tone_med, 180 / song_tone
  printf row, "  pelvane-render, FluidR3_GM imported", song_gm, song_gm_med, 180 / song_gm
  printf row, "  fluidsynth, FluidR3_GM, defaults", song_fluid, song_fluid_med, 180 / song_fluid
  printf row, "  fluidsynth, FluidR3_GM, -R 0 -C 0", song_dry, song_dry_med, 180 / song_dry
  printf "sparse (600 s, melody and accompaniment)\n"
  printf row, "  pelvane-render, examples/", sparse_kit, sparse_kit_med, 600 / sparse_kit
  printf row, "  pelvane-render, FluidR3_GM imported", sparse_gm, sparse_gm_med, 600 / sparse_gm
  printf row, "  fluidsynth, FluidR3_GM, defaults", sparse_fluid, sparse_fluid_med, 600 / sparse_fluid
  printf row, "  fluidsynth, FluidR3_GM, -R 0 -C 0", sparse_dry, sparse_dry_med, 600 / sparse_dry
  printf "pelvane-render (examples/) against fluidsynth, times faster (minima; medians):\n"
  printf "  song:   %6.1f (defaults)  %6.1f (-R 0 -C 0);  %6.1f  %6.1f\n", song_fluid / song_kit, song_dry / song_kit, song_fluid_med / song_kit_med, song_dry_med / song_kit_med
  printf "  sparse: %6.1f (defaults)  %6.1f (-R 0 -C 0);  %6.1f  %6.1f\n", sparse_fluid / sparse_kit, sparse_dry / sparse_kit, sparse_fluid_med / sparse_kit_med, sparse_dry_med / sparse_kit_med
  printf "pelvane-render (FluidR3_GM imported) against fluidsynth (FluidR3_GM), times faster:\n"
  printf "  song:   %6.1f (defaults)  %6.1f (-R 0 -C 0);  %6.1f  %6.1f\n", song_fluid / song_gm, song_dry / song_gm, song_fluid_med / song_gm_med, song_dry_med / song_gm_med
  printf "  sparse: %6.1f (defaults)  %6.1f (-R 0 -C 0);  %6.1f  %6.1f\n", sparse_fluid / sparse_gm, sparse_dry / sparse_gm, sparse_fluid_med / sparse_gm_med, sparse_dry_med / sparse_gm_med
}'
