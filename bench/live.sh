#!/usr/bin/env bash
# The whole program's CPU while it plays, side by side with FluidSynth
# (FluidR3_GM) on the same private JACK server (dummy driver, 44100 frames/s,
# 1024-frame periods): 240 notes struck together and struck again every 0.5 s
# (notes 4 to 123 on channels 1 and 2; 960 messages a second, each a log line
# in Pelvane's window and on its standard error, here /dev/null). Each
# program's CPU time (user + system, all its threads) over LIVE_SECONDS
# (default 20) of play, as a share of one core.
# Usage: bench/live.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: bench/live.sh BUILD_DIR}" && pwd)
seconds=${LIVE_SECONDS:-20}
soundfont=/usr/share/sounds/sf2/FluidR3_GM.sf2
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -z "${server:-}" ] || { kill -TERM "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
export JACK_DEFAULT_SERVER=pelvane-live-$$ JACK_NO_START_SERVER=1
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work
unset DISPLAY
jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -S -t 5000 -d dummy -r 44100 -p 1024 >"$work/jackd.log" 2>&1 &
server=$!
for _ in $(seq 100); do jack_lsp >/dev/null 2>&1 && break; sleep 0.1; done
jack_lsp >/dev/null 2>&1 || { cat "$work/jackd.log"; exit 1; }

# CPU seconds (user + system) of a process so far.
cpu() { awk -v hz="$(getconf CLK_TCK)" '{print ($14 + $15) / hz}' "/proc/$1/stat"; }
# measure PID NAME: its share of one core over the next $seconds.
measure() {
  local before after
  before=$(cpu "$1")
  sleep "$seconds"
  after=$(cpu "$1")
  awk -v a="$before" -v b="$after" -v s="$seconds" -v n="$2" \
    'BEGIN { printf "%-10s %5.1f%% of one core (%.2f s of CPU in %d s)\n", n, 100 * (b - a) / s, b - a, s }'
}

"$build/tests/tools/pelvane_jack_keys" livekeys chord240 22050 20000 >"$work/keys.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do jack_lsp | grep -q '^livekeys:out$' && break; sleep 0.1; done

mkdir "$work/run"
cp "$(dirname "$0")/../examples/"*.wav "$(dirname "$0")/../examples/default.pvi" "$work/run/"
mkfifo "$work/control"
(cd "$work/run" && PELVANE_CONTROL=stdin exec "$build/app/main/pelvane" <"$work/control" 2>/dev/null) &
pelvane=$!
pids+=($pelvane)
exec 3>"$work/control"
sleep 2
echo "select wave JACK: system" >&3
echo "select midiin livekeys" >&3
echo start >&3
for _ in $(seq 100); do jack_lsp | grep -q 'Pelvane MIDI:MIDI In' && break; sleep 0.1; done
sleep 2
measure "$pelvane" pelvane
echo stop >&3
echo close >&3
exec 3>&-
wait "$pelvane" || true
echo "pelvane handled $(($(stat -c %s "$work/run/dump0001.pvd") / 8)) messages (its dump file)"

fluidsynth -q -i -s -a jack -m jack -j "$soundfont" >"$work/fluid.log" 2>&1 </dev/null &
fluid=$!
pids+=($fluid)
port=
for _ in $(seq 100); do
  port=$(jack_lsp | grep -i 'fluid.*midi' | head -1 || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "FluidSynth's MIDI port did not appear"; cat "$work/fluid.log"; exit 1; }
jack_connect livekeys:out "$port"
sleep 2
measure "$fluid" fluidsynth
