#!/usr/bin/env bash
# The synthesizer end to end on a private JACK server (dummy driver, period
# 1024): a phrase played into its JACK MIDI input comes back byte for byte on
# the echo port, is recorded one record per message in the dump file, and
# sounds at the default tone's pitch, each note after its own message and
# before the next, with silence after the releases. Prints the latency from
# each note-on to its onset.
set -euo pipefail
build=${PELVANE_BUILD:?}
work=$(mktemp -d)
server="pelvane-synth-e2e-$$"
export JACK_DEFAULT_SERVER=$server JACK_NO_START_SERVER=1
jackd_pid=
cleanup() {
  [ -n "$jackd_pid" ] && kill "$jackd_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

jackd -n "$server" --no-realtime -S -t 5000 -d dummy -r 44100 -p 1024 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
for _ in $(seq 100); do
  jack_lsp >/dev/null 2>&1 && break
  sleep 0.1
done
jack_lsp >/dev/null 2>&1 || { echo "jackd did not start"; cat "$work/jackd.log"; exit 1; }

mkdir "$work/run"
cd "$work/run"
timeout 120 "$build/tests/tools/pelvane_synth_jack_phrase" 2>"$work/log.txt" || {
  echo "--- synthesizer log"; cat "$work/log.txt"; exit 1
}
