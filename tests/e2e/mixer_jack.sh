#!/usr/bin/env bash
# One note through the Mixer on the Linux wave output, into a private JACK
# server (dummy driver), recorded by a JACK client of our own and checked:
# silence, about 438.7 Hz at peaks of +-623, a release fade, silence.
set -euo pipefail
build=${PELVANE_BUILD:?}
work=$(mktemp -d)
server="pelvane-e2e-$$"
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

jackd -n "$server" --no-realtime -S -t 5000 -d dummy -r 44100 -p 1024 >"$work/jackd.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done
jack_lsp >/dev/null 2>&1 || { echo "jackd did not start"; cat "$work/jackd.log"; exit 1; }

"$build/tests/tools/pelvane_jack_record" "$work/rec.wav" Pelvane "$work/ready" 60 &
recorder=$!
pids+=($recorder)
"$build/tests/tools/pelvane_mixer_note" "$work/ready"
kill -TERM "$recorder"
wait "$recorder"
"$build/tests/tools/pelvane_check_tone" "$work/rec.wav"
