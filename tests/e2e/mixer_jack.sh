#!/usr/bin/env bash
# One note through the Mixer on the Linux wave output, into a private JACK
# server (dummy driver) at 44100, 48000 and 96000 frames/s, recorded by a JACK
# client of our own and checked: silence, about 438.7 Hz at peaks of +-623
# (exactly at 44100; converted within 2% elsewhere), a clean spectrum, a
# release fade, silence.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK

# jack_note RATE: the note recorded on a server at RATE; non-zero when the
# tone is wrong.
jack_note() {
  local rate=$1 recorder
  start_jack "$rate" 1024
  rm -f "$work/ready"
  "$build/tests/tools/pelvane_jack_record" "$work/rec-$rate.wav" Pelvane "$work/ready" 60 &
  recorder=$!
  "$build/tests/tools/pelvane_mixer_note" "$work/ready" 2>"$work/note-$rate.log" ||
    { cat "$work/note-$rate.log" >&2; fail "mixer_note at $rate"; }
  kill -TERM "$recorder"
  wait "$recorder"
  stop_jack
  "$build/tests/tools/pelvane_check_tone" "$work/rec-$rate.wav"
}

for rate in 44100 48000 96000; do
  echo "--- JACK at $rate frames/s"
  judge_sound "the tone at $rate" jack_note "$rate"
  conversion=$(grep -c "Wave out: converting from 44100 Hz to the device's $rate Hz" "$work/note-$rate.log" || true)
  [ "$conversion" -eq $([ "$rate" -eq 44100 ] && echo 0 || echo 1) ] ||
    fail "at $rate the conversion line appears $conversion times"
done
