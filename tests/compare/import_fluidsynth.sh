#!/usr/bin/env bash
# pelvane-import measured against FluidSynth: a font (FluidR3_GM unless
# PELVANE_FONT names another; make compare-import runs TimGM6mb too) imported, then the
# same notes rendered by pelvane-render with the imported set and by
# FluidSynth with the font (reverb and chorus off) and compared note by
# note (tests/tools/compare_renders.cpp: pitch within 3 cents, every 50 ms
# of the held part within 1.5 dB after one offset for the font, the fall of
# 40 dB within 25% or 50 ms, a held organ note that keeps its level for
# 10 s): programs 0, 19, 33, 48 and 73 at three keys each, velocity 127,
# held 2 s, and drum notes 36, 38, 42 and 49 on channel 10. Each fall is
# measured from where that render's release begins: FluidSynth's at the
# note-off, Pelvane's where the mixer's timing puts it for every set (a
# note-on is mixed into the queued buffers and heard from the next
# boundary, a note-off reaches the buffers mixed after it, three later).
set -euo pipefail
export PYTHONPATH=$(cd "$(dirname "$0")" && pwd)
build=${PELVANE_BUILD:?}
# PELVANE_FONT chooses the font (TimGM6mb: /usr/share/sounds/sf2/TimGM6mb.sf2);
# a font without a list of known notes is measured without one.
font=${PELVANE_FONT:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
[ -f "$font" ] || { echo "FAIL: $font is missing (packages fluid-soundfont-gm, timgm6mb-soundfont)"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# PELVANE_KEEP=1 keeps the renders to listen to.
[ -n "${PELVANE_KEEP:-}" ] && trap - EXIT && echo "renders kept in $work"
cd "$work"

# The notes play at velocity 127: the layer FluidSynth plays there.
"$build/tools/pelvane-import" --velocity 127 "$font" gm >import.txt 2>&1 || { cat import.txt; exit 1; }
cat import.txt
python3 - notes.mid notes.txt "$(basename "$font")" <<'PY'
import sys, smf
# Notes known to stay apart, by font, program (128: drums) and key, printed
# "apart" (the run fails should one of them hold):
known = {
    # - strings 80: one 50 ms window 1.7 dB off. The two sides of the pair
    #   are looped apart (0.54 and 0.75 s): the file repeats the left side's
    #   loop, so from its first repeat on the right side plays other parts
    #   of its own loop than FluidSynth's voice does at that moment, and its
    #   level there varies by 2 dB.
    "FluidR3_GM.sf2": {(48, 80)},
    # - organ 36: 6 dB apart at the attack: a second layer sounds under it
    #   ('Octave Wave E4', looped over 40 frames against the organ's 383,
    #   at another speed), which one looped file cannot hold with it; the
    #   engine plays one sample a note.
    # - strings 48, 64 and 80: 5 to 8 dB apart: five layers sound at once
    #   (a stereo pair looped apart and three synthetic layers, two with
    #   pitch envelopes), each looped on its own; one plays.
    "TimGM6mb.sf2": {(19, 36), (48, 48), (48, 64), (48, 80)},
}.get(sys.argv[3], set())
melodic = [(0, (36, 60, 84)), (19, (36, 60, 84)), (33, (28, 40, 52)), (48, (48, 64, 80)),
           (73, (60, 72, 84))]
events, notes, t = [], [], 1.0
def note(channel, key, held, kind, gap, program):
    global t
    events.append((t, bytes([0x90 | channel, key, 127])))
    events.append((t + held, bytes([0x80 | channel, key, 64])))
    mark = " known" if (program, key) in known else ""
    notes.append("%.3f %.3f %d %s%s" % (t, held, key, kind, mark))
    t += held + gap
for program, keys in melodic:
    for key in keys:
        events.append((t - 0.5, bytes([0xC0, program])))
        note(0, key, 2.0, "p", 4.0, program)
events.append((t - 0.5, bytes([0xC0, 19])))
note(0, 60, 10.0, "o", 2.0, 19)
for key in (36, 38, 42, 49):
    note(9, key, 2.0, "d", 8.0, 128)
smf.write(sys.argv[1], events)
open(sys.argv[2], "w").write("\n".join(notes) + "\n")
PY
"$build/tools/pelvane-render" --dir gm notes.mid pelvane.wav 2>&1 | tail -n 1
# FluidSynth's floats: its 16-bit output is dithered, and that noise would end
# a quiet note's measured fall before it has fallen 40 dB.
fluidsynth -ni -R 0 -C 0 -r 44100 -o audio.file.format=float -F fluidsynth.wav "$font" notes.mid \
  >/dev/null 2>&1
"$build/tests/tools/pelvane_compare_renders" pelvane.wav fluidsynth.wav notes.txt
