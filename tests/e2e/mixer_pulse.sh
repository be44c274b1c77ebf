#!/usr/bin/env bash
# One note through the Mixer on the Linux wave output on WAVE_MAPPER, into a
# private PulseAudio server whose null sink runs at 48000 and then 96000
# frames/s, recorded from the sink's monitor and checked as on JACK. No JACK
# server is reachable, so the mapper picks PulseAudio.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
export JACK_DEFAULT_SERVER=pelvane-e2e-none-$$ JACK_NO_START_SERVER=1

for rate in 48000 96000; do
  echo "--- PulseAudio at $rate frames/s"
  # A third of a second after the note's end.
  judge_sound "the tone at $rate" pulse_note "note-$rate" "$rate" $((rate / 3))
  grep -q ": Wave out: converting from 44100 Hz to the device's $rate Hz$" "$work/note-$rate.log" ||
    fail "no conversion line at $rate"
done

# The program itself on PulseAudio: the server goes away while it plays. One
# line says so; Stop completes; a later Start says why nothing opens; the
# program closes normally.
echo "--- the server goes away under the running program"
export QT_QPA_PLATFORM=offscreen
unset DISPLAY
start_pulse 44100
mkdir "$work/folder"
start_pelvane "$work/folder"
echo "select wave PulseAudio" >&3
echo start >&3
wait_for "log_lines | grep -x 'Wave out opened' >/dev/null" 20 || fail "no 'Wave out opened'"
stop_pulse
wait_for "log_lines | grep '^Wave out lost: PulseAudio has gone away (' >/dev/null" 20 || fail "the loss was not told"
echo stop >&3
wait_for "[ \$(log_lines | grep -cx 'Mixer: IsShutdown()') -eq 1 ]" 20 || fail "Stop did not complete"
echo start >&3
wait_for "log_lines | grep '^Mixer: waveOutOpen() failed: ' >/dev/null" 20 || fail "the second Start told nothing"
echo stop >&3
wait_for "[ \$(log_lines | grep -cx 'Mixer: IsShutdown()') -eq 2 ]" 20 || fail "the second Stop did not complete"
stop_pelvane
[ "$(log_lines | grep -c '^Wave out lost: ')" -eq 1 ] || fail "the loss was told more than once"
log_lines | grep -e "^Wave out" -e "^Mixer: waveOutOpen"
echo "PASS"
