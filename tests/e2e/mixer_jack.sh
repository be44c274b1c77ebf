#!/usr/bin/env bash
# One note through the Mixer on the Linux wave output, into a private JACK
# server (dummy driver), recorded by a JACK client of our own and checked:
# silence, about 438.7 Hz at peaks of +-623, a release fade, silence.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
start_jack

"$build/tests/tools/pelvane_jack_record" "$work/rec.wav" Pelvane "$work/ready" 60 &
recorder=$!
E2E_PIDS+=($recorder)
"$build/tests/tools/pelvane_mixer_note" "$work/ready"
kill -TERM "$recorder"
wait "$recorder"
"$build/tests/tools/pelvane_check_tone" "$work/rec.wav"
