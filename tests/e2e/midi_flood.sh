#!/usr/bin/env bash
# A MIDI flood into the running program on a private JACK server: 10,000 note
# messages a second for 60 s (each one a log line) through a JACK MIDI port,
# Stop sent after 5 s, close at the end (tests/tools/jack_flood.cpp). The
# window handles Stop while the flood goes on, the dump holds every message
# received until the MIDI input closed, in order, and resident memory stays
# under 200 MB. Prints the times from the stop command to its "Stopping" line
# and to the end of the shutdown (measured, not asserted). FLOOD_SECONDS and
# FLOOD_RATE shorten or lighten it.
#
# Then a file-size limit (ulimit -f, as systemd's LimitFSIZE sets one) stands
# in for a full disk: Pelvane goes on playing, the dump ends with its last
# whole record, and one line says the rest of the run is not recorded.
#
# Last, 400,000 messages a second for 60 s, far more than Pelvane handles: the
# losses are told, the dump holds exactly the handled messages, memory stays
# flat and Stop is prompt (LOSSY_RATE, LOSSY_SECONDS, LOSSY_STOP).
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$E2E_WORK
unset DISPLAY
# Ten times what a MIDI cable carries, and a fifth of what the program was
# seen to handle on a loaded 2-core machine: the input is bounded (8192
# messages wait at most, under a second of this flood), so a rate near what
# the machine handles would lose messages whenever the MidiIn thread is held
# up, and this run checks that nothing is lost.
rate=${FLOOD_RATE:-10000} seconds=${FLOOD_SECONDS:-60}
if ldd "$build/app/main/pelvane" | grep -E 'lib(a|t)san' >/dev/null; then
  # Under a sanitizer every message costs several times as much, and shadow
  # memory alone passes the bound: a lighter flood, no bound on memory. The
  # input is bounded, so what the MidiIn thread cannot handle is dropped: the
  # rate stays at half of what a TSan build was seen to handle beside the
  # other suites (about 4,000 a second), so that this run loses nothing.
  rate=${FLOOD_RATE:-2000} seconds=${FLOOD_SECONDS:-20}
  export PELVANE_FLOOD_MEMORY_MB=0
fi
start_jack
mkdir "$E2E_WORK/run"
timeout 200 "$build/tests/tools/pelvane_jack_flood" "$build/app/main/pelvane" "$E2E_WORK/run" \
  "$rate" "$seconds" 5 || fail "the flood checks failed"

mkdir "$E2E_WORK/limited"
(ulimit -f 4 && exec timeout 60 "$build/tests/tools/pelvane_jack_flood" "$build/app/main/pelvane" \
  "$E2E_WORK/limited" 1000 3 2 4096) || fail "the file-size limit checks failed"
# Last, a flood far beyond what Pelvane can handle, 400,000 messages a second
# for 60 s (what a runaway sequencer may send): the excess is dropped at the
# JACK input's queue and told, memory stays flat, Stop is prompt, and the
# dump holds exactly the messages handled. Sanitizer builds leave it out.
# JACK's MIDI buffer holds a few thousand events a period: the server runs
# with 256-frame periods for it.
if [ "${PELVANE_FLOOD_MEMORY_MB:-}" != 0 ]; then
  stop_jack
  start_jack 44100 256
  mkdir "$E2E_WORK/lossy"
  PELVANE_FLOOD_LOSSY=1 timeout 200 "$build/tests/tools/pelvane_jack_flood" "$build/app/main/pelvane" \
    "$E2E_WORK/lossy" "${LOSSY_RATE:-400000}" "${LOSSY_SECONDS:-60}" "${LOSSY_STOP:-55}" ||
    fail "the lossy flood checks failed"
fi

echo PASS
