#!/bin/bash
# The native MIDI backend against a private JACK server (dummy driver).
set -euo pipefail
: "${PELVANE_BUILD:?}"
export JACK_DEFAULT_SERVER="pvmidi$$"
jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -S -t 5000 -d dummy -r 44100 -p 1024 >jackd.log 2>&1 &
jackd_pid=$!
trap 'kill $jackd_pid 2>/dev/null; wait $jackd_pid 2>/dev/null || true' EXIT
if ! timeout 10 jack_wait -w >/dev/null 2>&1; then
  echo "jackd did not start:"; cat jackd.log; exit 1
fi
timeout 120 "$PELVANE_BUILD/tests/tools/midi_backend_test"
