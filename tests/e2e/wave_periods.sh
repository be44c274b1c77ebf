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

# pulse_note: the note on a PulseAudio null sink at 8000 frames/s; non-zero
# when the tone is wrong.
pulse_note() {
  local recorder
  start_pulse 8000
  # The reader keeps the null sink running in real time.
  parec --device=null.monitor --latency-msec=20 --raw --format=s16le --rate=8000 --channels=2 \
    >"$work/pulse.raw" 2>"$work/parec.log" &
  recorder=$!
  wait_for "[ \$(stat -c %s '$work/pulse.raw') -ge $((8000 * 4 / 5)) ]" 20 || fail "parec records nothing"
  touch "$work/ready"
  # The sink's four periods of 1024 frames and the frames ahead hold about 0.8 s.
  "$build/tests/tools/pelvane_mixer_note" "$work/ready" mapper 1500 1500 2>"$work/pulse.log" ||
    { cat "$work/pulse.log" >&2; fail "mixer_note on PulseAudio"; }
  # What the server still held when the mixer stopped, and a second more.
  wait_for "[ \$(stat -c %s '$work/pulse.raw') -ge $(($(stat -c %s "$work/pulse.raw") + 8000 * 4)) ]" 20 ||
    fail "parec stopped recording"
  kill -INT "$recorder"
  wait "$recorder" || true
  stop_pulse
  python3 - "$work/pulse.raw" "$work/pulse.wav" <<'PY'
import sys, wave
data = open(sys.argv[1], 'rb').read()
data = data[:len(data) // 4 * 4]
with wave.open(sys.argv[2], 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(8000); w.writeframes(data)
PY
  "$build/tests/tools/pelvane_check_tone" "$work/pulse.wav"
}

echo "--- PulseAudio at 8000 frames/s"
export JACK_DEFAULT_SERVER=pelvane-e2e-none-$$ JACK_NO_START_SERVER=1
judge_sound "the tone on PulseAudio" pulse_note
echo "PASS"
