#!/usr/bin/env bash
# pelvane-render on files nobody on this project wrote: the WAV files Debian's
# alsa-utils ships and sox-made 24-bit, floating-point and four-channel twins
# of one; a MIDI file wrapped in a RIFF RMID file; a README given as input; a
# MIDI file whose last note ends well before its End of Track. And what it
# says by default: only why something did not load, the summary, not a line
# per note (those with --verbose).
set -euo pipefail
build=${PELVANE_BUILD:?}
source_dir=${PELVANE_SOURCE:?}
render="$build/tools/pelvane-render"
alsa=/usr/share/sounds/alsa/Front_Center.wav
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }
# The lines on standard error other than the summary.
log_of() { grep -v '^pelvane-render: rendered ' "$1" || true; }

"$build/tests/tools/pelvane_make_midi" tempo song.mid
printf '\xdc\x05\x00\x00\x90\x3c\x64\x00\x08\x07\x00\x00\x80\x3c\x40\x00' >take.pvd

# The kind comes from the content: a README is neither kind, whatever it is
# called; the same MIDI file inside a RIFF RMID wrapper renders byte for byte
# as itself, and a dump named .mid is still a dump.
cp "$source_dir/README.md" README.md
status=0
"$render" --print README.md >out.txt 2>err.txt || status=$?
[ "$status" -eq 1 ] || fail "--print README.md: exit status $status"
expect_eq "$(cat err.txt)" "pelvane-render: error: 'README.md': neither a Standard MIDI File nor a dump file" "README.md"
[ -s out.txt ] && fail "--print README.md listed: $(head -n 3 out.txt)"
size=$(stat -c %s song.mid)
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $(($1 >> 8 & 255)))\\x$(printf %02x $(($1 >> 16 & 255)))\\x$(printf %02x $(($1 >> 24 & 255)))"; }
{ printf 'RIFF'; le32 $((4 + 8 + size)); printf 'RMIDdata'; le32 "$size"; cat song.mid; } >song.rmi
"$render" song.mid plain.wav 2>/dev/null
"$render" song.rmi wrapped.wav 2>/dev/null
cmp plain.wav wrapped.wav || fail "the RMID file renders differently from the MIDI file inside"
expect_eq "$("$render" --print song.rmi)" "$("$render" --print song.mid)" "--print song.rmi"
cp take.pvd take.mid
expect_eq "$("$render" --print take.mid)" "     1.500  ch  0  Note on           60 100
     1.800  ch  0  Note off          60  64" "a dump named take.mid"

# A piece that ends in silence keeps it: note 60 from 0 to 0.25 s, End of
# Track at 5 s (tick 960 at 96 per quarter, 120 bpm). The file runs to the
# period of frame 220500 and the four queued buffers after it.
printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\x00\x60MTrk\x00\x00\x00\x0d\x00\x90\x3c\x64\x30\x80\x3c\x00\x87\x10\xff\x2f\x00' >quiet-end.mid
"$render" quiet-end.mid quiet-end.wav 2>quiet-end.log
grep -q "^pelvane-render: rendered 5.108 s (225280 frames, 2 messages) into 'quiet-end.wav'" quiet-end.log ||
  fail "End of Track: $(tail -n 1 quiet-end.log)"
expect_eq "$("$build/tests/tools/pelvane_wav_notes" quiet-end.wav)" "onset 1024 end 16368 hz 347.2" "the note before the silence"

# Quiet by default: why the built-in tone plays (no default.wav, no
# instrument set), then the summary; no note lines. --verbose adds every line.
"$render" song.mid quiet.wav 2>quiet.log
expect_eq "$(log_of quiet.log | sed -E 's/^0x[0-9A-F]{8}: //')" "Sample: Cannot open file 'default.wav': GLE = 2
Instrument set not loaded, file not found." "the quiet log"
"$render" --verbose song.mid loud.wav 2>loud.log
[ "$(grep -c 'Midi-In: Note' loud.log)" -eq 6 ] || fail "--verbose: $(grep -c 'Midi-In: Note' loud.log) note lines"
grep -q "Loading instrument set from 'default.pvi'..." loud.log || fail "--verbose lacks the start-up lines"
cmp quiet.wav loud.wav || fail "--verbose changed the render"

# Real sound files as default.wav. The one alsa-utils ships (16-bit mono
# 48 kHz) loads, and plays as its sox-made stereo twin; 8 bits load too. The
# 24-bit, floating-point and four-channel twins (sox writes the first and last
# as WAVE_FORMAT_EXTENSIBLE) are refused, each by what it is.
[ -f "$alsa" ] || fail "$alsa is missing (Debian package alsa-utils)"
kit() {  # kit NAME SOX-ARGS...: a folder NAME whose default.wav is the alsa file converted
  local name=$1
  shift
  mkdir "$name"
  sox "$alsa" "$@" "$name/default.wav"
}
mkdir alsa && cp "$alsa" alsa/default.wav
kit stereo -c 2
kit eight -b 8
kit deep -b 24
kit float -e floating-point -b 32
kit four -c 4
for name in alsa stereo eight; do
  "$render" --dir "$name" take.pvd "$name.wav" 2>"$name.log"
  expect_eq "$(log_of "$name.log" | grep 'Sample: ' || true)" "" "$name: the sample lines"
done
cmp alsa.wav stereo.wav || fail "the alsa file and its stereo twin render differently"
cmp -s alsa.wav eight.wav && fail "8 bits rendered as 16"
"$render" take.pvd tone.wav 2>/dev/null
cmp -s alsa.wav tone.wav && fail "the alsa file did not replace the built-in tone"
for pair in "deep:unsupported BitsPerSample count (24)" "float:unsupported floating-point data (32 bits)" \
            "four:unsupported channel count (4)"; do
  name=${pair%%:*}
  "$render" --dir "$name" take.pvd "$name.wav" 2>"$name.log"
  log_of "$name.log" | grep -x "0x[0-9A-F]\{8\}: Sample: Cannot open file 'default.wav': ${pair#*:}" >/dev/null ||
    fail "$name: $(log_of "$name.log")"
  cmp -s "$name.wav" tone.wav || fail "$name: a refused default.wav changed the tone"
done
echo PASS
