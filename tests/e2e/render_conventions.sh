#!/usr/bin/env bash
# pelvane-render's command-line conventions on a real song and kit: "-"
# streams the WAV file into a pipe that sox reads whole, with the engine's
# bytes after a streaming header; -q shows nothing but errors; --rate
# converts to the rate asked for, the input's length at that rate; --gain
# lowers the level; their defaults (44100, 0 dB) keep the bytes.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/render.bash"
source_dir=${PELVANE_SOURCE:?}

"$build/tests/tools/pelvane_make_midi" song 20 song.mid
cp -r "$source_dir/examples" kit
"$render" --dir kit song.mid plain.wav 2>/dev/null
frames=$((($(stat -c %s plain.wav) - 44) / 4))

"$render" -q --dir kit song.mid - 2>quiet.err | tee piped.wav | sox -t wav - -n stat 2>sox.txt
[ ! -s quiet.err ] || fail "-q wrote: $(cat quiet.err)"
cmp <(tail -c +45 plain.wav) <(tail -c +45 piped.wav) || fail "the piped frames differ from the file's"
[ "$(head -c 44 piped.wav | od -An -tx1 -j4 -N4 | tr -d ' ')" = ffffffff ] || fail "the RIFF size of a stream"
[ "$(head -c 44 piped.wav | od -An -tx1 -j40 -N4 | tr -d ' ')" = ffffffff ] || fail "the data size of a stream"
grep -qE "^Samples read: +$((2 * frames))$" sox.txt || fail "sox read: $(cat sox.txt)"
"$render" -q --dir kit no-such.mid out.wav 2>missing.err && fail "a missing input succeeded"
grep -q "^pelvane-render: error: 'no-such.mid': " missing.err || fail "-q hid the error: $(cat missing.err)"

"$render" -q --rate 44100 --gain 0 --dir kit song.mid same.wav
cmp plain.wav same.wav || fail "--rate 44100 --gain 0 changed the bytes"
if "$render" -q --rate 48000 --dir kit song.mid rate.wav 2>rate.err; then
  [ "$(soxi -r rate.wav)" = 48000 ] || fail "--rate 48000 wrote $(soxi -r rate.wav) Hz"
  want=$(awk "BEGIN{printf \"%.0f\", $frames * 48000 / 44100}")
  [ "$(soxi -s rate.wav)" = "$want" ] || fail "--rate 48000: $(soxi -s rate.wav) frames, not $want"
else
  fail "--rate 48000: $(cat rate.err)"
fi
"$render" -q --gain -6 --dir kit song.mid low.wav
peak() { sox "$1" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p'; }
awk "BEGIN{exit !($(peak low.wav) < 0.51 && $(peak low.wav) > 0.49)}" ||
  fail "--gain -6 from a full-scale peak $(peak plain.wav) gave $(peak low.wav)"
echo PASS
