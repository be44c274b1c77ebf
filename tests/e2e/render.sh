#!/usr/bin/env bash
# pelvane-render from the command line: a MIDI file with tempo changes and a
# dump file rendered, listed and checked (note times, pitches, the tail, the
# summary), byte-identical twice over and, when the Windows build exists,
# under Wine as well; malformed inputs end with one error line.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/render.bash"
source_dir=${PELVANE_SOURCE:?}
expect_eq() { [ "$1" = "$2" ] || fail "$3: expected [$2], got [$1]"; }

"$build/tests/tools/pelvane_make_midi" tempo tempo.mid

# The listing: times from the tempo map (120 bpm, 240 bpm from 1 s, 60 bpm
# from 1.5 s), channel, kind, data.
"$render" --print tempo.mid >listing.txt 2>listing.err
expect_eq "$(cat listing.txt)" "     0.500  ch  0  Note on           60 100
     0.625  ch  0  Note off          60  64
     1.250  ch  0  Note on           64 100
     1.312  ch  0  Note off          64  64
     2.500  ch  0  Note on           67 100
     2.750  ch  0  Note off          67  64" "--print"
[ -s listing.err ] && fail "--print wrote to standard error: $(cat listing.err)"

# Rendered: each note from the buffer boundary after its frame (0.5 s is
# frame 22050 in period 21, so 22528), its fade ending 2032 frames into the
# fourth buffer after its note-off's; pitches of notes 60, 64 and 67 of the
# built-in 438.7 Hz tone on note 64.
"$render" tempo.mid one.wav 2>one.log
grep -q "^pelvane-render: rendered 2.879 s (126976 frames, 6 messages) into 'one.wav': peak voices 1, clipped frames 0, " one.log ||
  fail "summary: $(tail -n 1 one.log)"
grep -q "Sample: Cannot open file 'default.wav'" one.log || fail "the log lines are not on standard error"
expect_eq "$("$build/tests/tools/pelvane_wav_notes" one.wav)" "onset 22528 end 32752 hz 347.2
onset 55296 end 63472 hz 436.8
onset 110592 end 126960 hz 519.5" "notes of tempo.mid"
"$render" tempo.mid two.wav 2>/dev/null
cmp one.wav two.wav || fail "two renders differ"

# A dump: note on 60 at 1500 ms, note off at 1800 ms, then 3 stray bytes.
printf '\xdc\x05\x00\x00\x90\x3c\x64\x00\x08\x07\x00\x00\x80\x3c\x40\x00\x01\x02\x03' >take.pvd
"$render" take.pvd take.wav 2>take.log
grep -qx "pelvane-render: 'take.pvd': ignored the last 3 bytes (not a whole 8-byte record)" take.log ||
  fail "no line about the partial record"
expect_eq "$("$build/tests/tools/pelvane_wav_notes" take.wav)" "onset 66560 end 84976 hz 347.2" "notes of take.pvd"
"$render" --trim take.pvd trimmed.wav 2>/dev/null
expect_eq "$("$build/tests/tools/pelvane_wav_notes" trimmed.wav)" "onset 1024 end 18416 hz 347.2" "--trim"
# --tail-ms 10 ends the file 441 frames after the note-off's frame 79380.
"$render" --tail-ms 10 take.pvd short.wav 2>short.log
expect_eq "$(stat -c %s short.wav)" $((44 + 4 * (79380 + 441))) "--tail-ms size"
grep -q "the tail was cut after 10 ms with 1 voices sounding" short.log || fail "no tail line"

# --dir: the default instrument comes from that folder's default.wav.
mkdir kit
sox -n -r 44100 -b 16 -c 1 kit/default.wav synth 2 sine 1000 vol 0.5
(cd kit && "$render" ../take.pvd ../kit.wav 2>../kit.log) || fail "render from kit"
"$render" --dir kit take.pvd dir.wav 2>dir.log
cmp kit.wav dir.wav || fail "--dir differs from running in the folder"
grep -q "default.wav" dir.log && fail "--dir did not find default.wav: $(grep default.wav dir.log)"
cmp -s take.wav dir.wav && fail "--dir made no difference"

# Bad input: one error line, exit status 1 (2 for a bad command line).
check_error() {  # expected-line command...
  local expected=$1 status=0
  shift
  "$@" >out.txt 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "$*: exit status $status"
  expect_eq "$(cat err.txt)" "$expected" "$*"
}
check_error "pelvane-render: error: 'missing.mid': cannot open: No such file or directory" \
  "$render" missing.mid out.wav
head -c 40 tempo.mid >cut.mid
check_error "pelvane-render: error: 'cut.mid': chunk length 27 at offset 14 runs past the end of the file (18 bytes left)" \
  "$render" cut.mid out.wav
{ printf X; head -c 3000 /dev/urandom; } >noise.mid
check_error "pelvane-render: error: 'noise.mid': not a Standard MIDI File (no MThd header)" \
  "$render" noise.mid out.wav
printf 'MThd\x00\x00\x00\x06\x00\x00\x00\x01\xe7\x28' >smpte.mid
check_error "pelvane-render: error: 'smpte.mid': SMPTE time division is not supported, only ticks per quarter note" \
  "$render" smpte.mid out.wav
check_error "pelvane-render: error: 'no/such/dir/out.wav': cannot create the file: No such file or directory" \
  "$render" tempo.mid no/such/dir/out.wav
# 0xFFFFFFFF ms is 49 days: refused before anything is loaded or written.
printf '\xff\xff\xff\xff\x90\x3c\x64\x00' >late.pvd
check_error "pelvane-render: error: 'late.pvd': the input lasts longer than a WAV file can hold (6 h 45 min at 44100 frames/s)" \
  "$render" late.pvd late.wav
[ -e late.wav ] && fail "a refused render left late.wav"
status=0
"$render" --dir no-such-kit tempo.mid nokit.wav 2>nokit.txt || status=$?
[ "$status" -eq 1 ] || fail "--dir no-such-kit: exit status $status"
expect_eq "$(cat nokit.txt)" "pelvane-render: error: cannot enter 'no-such-kit': No such file or directory" "--dir no-such-kit"
[ -e nokit.wav ] && fail "a failed render left nokit.wav"
# With --trim the same record renders: it is the first message.
"$render" --trim late.pvd late.wav 2>/dev/null || fail "--trim late.pvd"
status=0
"$render" tempo.mid 2>usage.txt || status=$?
[ "$status" -eq 2 ] || fail "usage error: exit status $status"
expect_eq "$(head -n 1 usage.txt)" "pelvane-render: error: no output file given" "usage error"

# The Windows build, when there is one: the same bytes under Wine.
windows="$source_dir/build-windows/tools/pelvane-render.exe"
if [ -x "$source_dir/build-windows/wine-run" ] && [ -f "$windows" ] && command -v wine >/dev/null; then
  "$source_dir/build-windows/wine-run" "$windows" --verbose tempo.mid win-tempo.wav 2>win.log ||
    fail "Windows render: $(tail -n 3 win.log)"
  "$source_dir/build-windows/wine-run" "$windows" take.pvd win-take.wav 2>>win.log ||
    fail "Windows render: $(tail -n 3 win.log)"
  cmp one.wav win-tempo.wav || fail "Windows and Linux renders of tempo.mid differ"
  cmp take.wav win-take.wav || fail "Windows and Linux renders of take.pvd differ"
  grep -q "Midi-In: Note ON (60, vel. 100)" win.log || fail "the Windows log is not on standard error"
  echo "Windows render identical"
else
  echo "SKIP Windows comparison: no Windows build in $source_dir/build-windows (make windows)"
fi
echo PASS
