#!/usr/bin/env bash
# Note-on to sound through the whole synthesizer on private JACK servers
# (dummy driver) at the common periods and two rates. Usage: bench/latency.sh BUILD_DIR;
# PERIODS="4096 8192" bench/latency.sh BUILD_DIR measures other periods.
set -euo pipefail
build=${1:?usage: bench/latency.sh BUILD_DIR}
log=$(mktemp)
trap 'rm -f "$log" "$log.run"' EXIT
export JACK_NO_START_SERVER=1
for rate in 44100 48000; do
  for period in ${PERIODS:-256 512 1024}; do
    export JACK_DEFAULT_SERVER=pelvane-latency-$$-$rate-$period
    jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -S -t 5000 -d dummy -r "$rate" -p "$period" >"$log" 2>&1 &
    server=$!
    for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
    if jack_lsp >/dev/null 2>&1; then
      "$build/bench/note_latency" 20 2>"$log.run" || { echo "the run at $rate/$period failed:"; grep note_latency "$log.run"; }
    else
      echo "the JACK server at $rate frames/s, period $period, could not be started"
      cat "$log"
    fi
    kill -TERM "$server" 2>/dev/null || true
    wait "$server" || true
  done
done
