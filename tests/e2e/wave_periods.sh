#!/usr/bin/env bash
# The wave output at periods larger than the mixer's four buffers reach: one
# held note through the Mixer into a private JACK server (dummy driver) at
# periods of 4096 and 8192 frames at 44100 and 48000, with the period changed
# from 256 to 4096 and back while the note sounds, and into a private
# PulseAudio null sink at 8000 frames/s. Each recording is checked by
# pelvane_check_tone: no silence inside the note, nothing within 60 dB of the
# tone away from its harmonics, the pitch and level, the fade, silence.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK

# jack_note NAME RATE PERIOD [NEW_PERIOD]: the note on JACK; with NEW_PERIOD
# the server takes that period once the note has started. Non-zero when the
# tone is wrong.
jack_note() {
  echo "--- JACK at $2 frames/s, period $3${4:+, then $4}"
  start_jack "$2" "$3"
  rm -f "$work/ready"
  "$build/tests/tools/pelvane_jack_record" "$work/$1.wav" Pelvane "$work/ready" 60 &
  local recorder=$! note hold=500
  [ -z "${4:-}" ] || hold=1500
  # The frames ahead and the queue hold up to about 0.35 s: the silence after
  # the note waits well beyond that before the mixer stops.
  "$build/tests/tools/pelvane_mixer_note" "$work/ready" jack "$hold" 1000 2>"$work/$1.log" &
  note=$!
  if [ -n "${4:-}" ]; then
    wait_for "grep -q '^mixer_note: note on$' '$work/$1.log'" 20 || fail "no note at $1"
    jack_bufsize "$4" >/dev/null || fail "the period did not change at $1"
  fi
  wait "$note" || { cat "$work/$1.log" >&2; fail "mixer_note at $1"; }
  kill -TERM "$recorder"
  wait "$recorder"
  stop_jack
  "$build/tests/tools/pelvane_check_tone" "$work/$1.wav"
}

judge_sound "the tone at 44100-4096" jack_note 44100-4096 44100 4096
judge_sound "the tone at 48000-4096" jack_note 48000-4096 48000 4096
judge_sound "the tone at 44100-8192" jack_note 44100-8192 44100 8192
judge_sound "the tone at 48000-8192" jack_note 48000-8192 48000 8192
judge_sound "the tone at 48000-256-4096" jack_note 48000-256-4096 48000 256 4096
judge_sound "the tone at 48000-4096-256" jack_note 48000-4096-256 48000 4096 256

echo "--- PulseAudio at 8000 frames/s"
export JACK_DEFAULT_SERVER=pelvane-e2e-none-$$ JACK_NO_START_SERVER=1
# The sink's four periods of 1024 frames and the frames ahead hold about
# 0.8 s: the note is held 1.5 s, and the recording goes on a second after.
judge_sound "the tone on PulseAudio" pulse_note pulse 8000 8000 1500 1500
echo "PASS"
