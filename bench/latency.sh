#!/usr/bin/env bash
# Note-on to sound through the whole synthesizer on private JACK servers
# (dummy driver) at the common periods and two rates. Usage: bench/latency.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/latency.sh BUILD_DIR}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
export JACK_NO_START_SERVER=1
for rate in 44100 48000; do
  for period in 256 512 1024; do
    export JACK_DEFAULT_SERVER=pelvane-latency-$$-$rate-$period
    jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -S -t 5000 -d dummy -r "$rate" -p "$period" >"$log" 2>&1 &
    server=$!
    for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
    "$build/bench/note_latency" 20 2>/dev/null || { echo "the JACK server at $rate/$period did not start or the run failed"; cat "$log"; }
    kill -TERM "$server"
    wait "$server" || true
  done
done
