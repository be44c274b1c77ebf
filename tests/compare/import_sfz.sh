#!/usr/bin/env bash
# pelvane-import of an SFZ kit measured against the sound its samples
# describe: a kit of sine tones in a 24-bit WAV at 48000 frames/s
# (loop_sustain), a 32-bit float WAV (loop_continuous, played two semitones
# above its pitch_keycenter and tuned 10 cents up, 6 dB down) and a 24-bit
# FLAC (no_loop, at 70% amplitude), imported, rendered by pelvane-render,
# and compared note by note (tests/tools/compare_renders.cpp, as against
# FluidSynth) with the render computed here from what the kit says: each
# tone at its own frequency times the key's ratio, its level, held as long
# as the note (the loop holds it; the FLAC lasts past the note), then
# falling 96 dB over ampeg_release in decibels linear in time, as the
# importer reads it. The sustain-looped note is held 10 s: its level must
# hold. Each tone is heard near its key's own pitch (the measure looks
# there), and each loop holds a whole number of its periods.
set -euo pipefail
export PYTHONPATH=$(cd "$(dirname "$0")" && pwd)
build=${PELVANE_BUILD:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -n "${PELVANE_KEEP:-}" ] && trap - EXIT && echo "renders kept in $work"
cd "$work"

mkdir -p kit/Samples
sox -n -b 24 -r 48000 kit/Samples/s262.wav synth 2 sine 262.295082 vol 0.5
sox -n -e floating-point -b 32 -r 44100 kit/Samples/f292.wav synth 1 sine 292.052980 vol 0.5
sox -n -b 24 -r 44100 kit/Samples/c392.flac synth 4 sine 392 vol 0.5
cat >kit/kit.sfz <<'EOF'
<control> default_path=Samples\
<region> sample=s262.wav key=60 loop_mode=loop_sustain loop_start=18300 loop_end=45749
  ampeg_release=0.5
<region> sample=f292.wav key=64 pitch_keycenter=62 tune=10 volume=-6 loop_mode=loop_continuous
  loop_start=4530 loop_end=42279 ampeg_release=0.3
<region> sample=c392.flac lokey=66 hikey=70 pitch_keycenter=67 amplitude=70 loop_mode=no_loop
  ampeg_release=0.2
EOF
"$build/tools/pelvane-import" kit/kit.sfz set >import.txt 2>&1 || { cat import.txt; exit 1; }
cat import.txt

python3 - notes.mid notes.txt expected.wav <<'PY'
import math, struct, sys, smf
# key: (frequency heard, amplitude, release seconds), from the kit above.
tones = {60: (48000 / 183, 0.5, 0.5),
         64: (44100 / 151 * 2 ** (210 / 1200), 0.5 * 10 ** (-6 / 20), 0.3),
         69: (392.0 * 2 ** (2 / 12), 0.5 * 0.7, 0.2)}
plan = [(60, 10.0, "o"), (64, 2.0, "p"), (69, 2.0, "p")]
rate, events, notes, t = 44100, [], [], 1.0
for key, held, kind in plan:
    events.append((t, bytes([0x90, key, 127])))
    events.append((t + held, bytes([0x80, key, 64])))
    notes.append((t, held, key, kind))
    t += held + 3.0
frames = [0.0] * int((t + 1.0) * rate)
for start, held, key, kind in notes:
    f, a, release = tones[key]
    first, off = int(round(start * rate)), int(round(held * rate))
    for i in range(off + int(release * rate)):
        db = 0.0 if i < off else -96.0 * (i - off) / (release * rate)
        frames[first + i] = a * 10 ** (db / 20) * math.sin(2 * math.pi * f * i / rate)
data = b"".join(struct.pack("<ff", v, v) for v in frames)
fmt = struct.pack("<HHIIHH", 3, 2, rate, rate * 8, 8, 32)
open(sys.argv[3], "wb").write(b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " +
                              struct.pack("<I", 16) + fmt + b"data" + struct.pack("<I", len(data)) +
                              data)
open(sys.argv[2], "w").write("".join("%.3f %.3f %d %s\n" % n for n in notes))
smf.write(sys.argv[1], events)
PY
"$build/tools/pelvane-render" --dir set notes.mid pelvane.wav 2>&1 | tail -n 1
"$build/tests/tools/pelvane_compare_renders" pelvane.wav expected.wav notes.txt
