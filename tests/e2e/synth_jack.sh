#!/usr/bin/env bash
# The synthesizer end to end on a private JACK server (dummy driver, period
# 1024): a phrase played into its JACK MIDI input comes back byte for byte on
# the echo port, is recorded one record per message in the dump file, and
# sounds at the default tone's pitch, each note after its own message and
# before the next, with silence after the releases. Prints the latency from
# each note-on to its onset.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
start_jack

mkdir "$work/run"
cd "$work/run"
timeout 120 "$build/tests/tools/pelvane_synth_jack_phrase" 2>"$work/log.txt" || {
  echo "--- synthesizer log"; cat "$work/log.txt"; exit 1
}
