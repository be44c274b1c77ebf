#!/usr/bin/env bash
# make bench-import: pelvane-import on FluidR3_GM (148 MB) and what the
# imported set costs, next to FluidSynth with the font itself:
#   import   wall time and peak resident memory of pelvane-import
#   load     pelvane-render from start-up to its first rendered buffer: the
#            whole process rendering one short note (start-up, loading the
#            set, one buffer, writing a small file)
#   memory   peak resident memory of pelvane-render with the set loaded,
#            against FluidSynth rendering a General MIDI file with the font
#   render   a generated 3-minute General MIDI song (four channels of dense
#            chords) with both, whole processes, x real time and the ratio,
#            both renders of the same length
# Usage: bench/import.sh BUILD_DIR
set -euo pipefail
build=$(realpath "${1:-build}")
font=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
measure() {  # prints "SECONDS PEAK_KB" of the command
  /usr/bin/time -f "%e %M" -o time.txt "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
  cat time.txt
}
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
read -r import_s import_kb < <(measure "$build/tools/pelvane-import" "$font" gm)
echo "import: $import_s s, peak $((import_kb / 1024)) MB ($(du -sm gm | cut -f1) MB written)"
printf '\x00\x00\x00\x00\x90\x3c\x64\x00\x0a\x00\x00\x00\x80\x3c\x40\x00' >note.pvd
read -r load_s load_kb < <(measure "$build/tools/pelvane-render" --dir gm --tail-ms 0 note.pvd note.wav)
"$build/tests/tools/pelvane_make_midi" song 180 song.mid
read -r fluid_s fluid_kb < <(measure fluidsynth -ni -R 0 -C 0 -r 44100 -F fluid.wav "$font" song.mid)
# FluidSynth's render ends a few seconds after the song's last message (at
# 180 s); Pelvane's is cut at the same length, where the notes the song leaves
# held would otherwise sound for its whole tail limit.
tail_ms=$(python3 -c 'import sys, wave; w = wave.open(sys.argv[1]); print(max(0, round(w.getnframes() * 1000 / w.getframerate()) - 180000))' fluid.wav)
read -r ours_s ours_kb < <(measure "$build/tools/pelvane-render" --dir gm --tail-ms "$tail_ms" song.mid ours.wav)
echo "load: $load_s s to the first buffer"
echo "memory: pelvane-render $((ours_kb / 1024)) MB, FluidSynth $((fluid_kb / 1024)) MB" \
  "($(awk -v a="$ours_kb" -v b="$fluid_kb" 'BEGIN { printf "%.2f", a / b }') times)"
awk -v a="$ours_s" -v b="$fluid_s" 'BEGIN {
  printf "render (180 s song): pelvane-render %.1fx real time, FluidSynth %.1fx, ratio %.2f\n",
    180 / a, 180 / b, b / a }'
echo "  (both renders $(awk -v t="$tail_ms" 'BEGIN { printf "%.1f", 180 + t / 1000 }') s long)"
