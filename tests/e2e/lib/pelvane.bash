# Shared by the end-to-end scripts: a private JACK server, Pelvane started in
# a folder with its standard error kept, and checks on the log lines.
set -euo pipefail

E2E_PIDS=()
E2E_JACK_PID=
E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/pelvane-e2e.XXXXXX")
# The clients go first and the server last: a JACK server stopped while it
# still waits for a dying client can end without leaving JACK's shared
# registry, and an entry left there is never reclaimed.
e2e_cleanup() {
  local pid i
  for pid in "${E2E_PIDS[@]}"; do [ "$pid" = "$E2E_JACK_PID" ] || kill "$pid" 2>/dev/null || true; done
  # A client that ignores SIGTERM after a failure must not hold the test until
  # its timeout: it gets ten seconds, then SIGKILL (never the server).
  for pid in "${E2E_PIDS[@]}"; do
    [ "$pid" = "$E2E_JACK_PID" ] && continue
    for ((i = 0; i < 100; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  [ -z "$E2E_JACK_PID" ] || kill "$E2E_JACK_PID" 2>/dev/null || true
  wait 2>/dev/null || true
  [ -n "${E2E_KEEP:-}" ] || rm -rf "$E2E_WORK"
}
trap e2e_cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

source "$(dirname "${BASH_SOURCE[0]}")/wait.bash"

# start_jack [RATE [PERIOD [TIMEOUT_MS]]]: a private JACK server (dummy
# driver), 44100 frames/s, 1024 frames a period and a client time-out of 5 s
# unless told otherwise.
start_jack() {
  export JACK_DEFAULT_SERVER=pelvane-e2e-$$ JACK_NO_START_SERVER=1
  jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -S -t "${3:-5000}" -d dummy -r "${1:-44100}" -p "${2:-1024}" \
    >"$E2E_WORK/jackd.log" 2>&1 &
  E2E_JACK_PID=$!
  E2E_PIDS+=($E2E_JACK_PID)
  wait_for "jack_lsp >/dev/null 2>&1" 10 ||
    { cat "$E2E_WORK/jackd.log" >&2; fail "the JACK server did not start"; }
}

# stop_jack: ends the server start_jack started (SIGTERM, then waits for it,
# so that it leaves no entry behind in JACK's registry).
stop_jack() {
  kill -TERM "$E2E_JACK_PID"
  wait "$E2E_JACK_PID" || true
  E2E_JACK_PID=
}

# start_pulse RATE: a private PulseAudio server with a null sink "null" at
# RATE frames/s (stereo), the default sink; every client started afterwards
# plays into it. Its monitor is "null.monitor".
start_pulse() {
  rm -rf "$E2E_WORK/xdg-$1"
  mkdir -m 700 "$E2E_WORK/xdg-$1"
  export XDG_RUNTIME_DIR="$E2E_WORK/xdg-$1" PULSE_SERVER="unix:$E2E_WORK/xdg-$1/pulse/native"
  HOME="$E2E_WORK" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load="module-null-sink sink_name=null rate=$1 channels=2" \
    --load=module-native-protocol-unix >"$E2E_WORK/pulse.log" 2>&1 &
  PULSE_PID=$!
  E2E_PIDS+=($PULSE_PID)
  wait_for "pactl info >/dev/null 2>&1" 10 ||
    { cat "$E2E_WORK/pulse.log" >&2; fail "the PulseAudio server did not start"; }
}

stop_pulse() {
  kill -TERM "$PULSE_PID"
  wait "$PULSE_PID" || true
}

# start_pelvane FOLDER: Pelvane in FOLDER, commands from the fifo on fd 3,
# standard error in $E2E_WORK/stderr. Sets PELVANE_PID.
start_pelvane() {
  mkfifo "$E2E_WORK/control"
  (cd "$1" && PELVANE_CONTROL=stdin exec "$PELVANE_BUILD/app/main/pelvane" \
    <"$E2E_WORK/control" 2>"$E2E_WORK/stderr") &
  PELVANE_PID=$!
  E2E_PIDS+=($PELVANE_PID)
  exec 3>"$E2E_WORK/control"
  wait_for "grep -qs ': Pelvane ready$' '$E2E_WORK/stderr'" 20 || fail "Pelvane did not get ready"
}

# stop_pelvane: closes the window and checks the exit code is 0.
stop_pelvane() {
  echo close >&3
  exec 3>&-
  wait_for "! kill -0 $PELVANE_PID 2>/dev/null" 20 || fail "Pelvane did not exit"
  local rc=0
  wait "$PELVANE_PID" || rc=$?
  [ "$rc" -eq 0 ] || fail "exit code $rc"
}

# The log texts on standard error, without the thread prefix.
log_lines() { sed -n -E 's/^0x[0-9A-F]{8}: //p' "$E2E_WORK/stderr"; }

# in_order LINE...: the log holds these lines in this order (others may come between).
in_order() {
  local want=("$@") i=0 line
  while IFS= read -r line; do
    [ $i -lt ${#want[@]} ] && [ "$line" = "${want[$i]}" ] && i=$((i + 1))
  done < <(log_lines)
  [ $i -eq ${#want[@]} ] || fail "log line missing or out of order: '${want[$i]}'"
}

# pulse_note NAME RATE TAIL_FRAMES [HOLD_MS AFTER_MS]: one note of
# pelvane_mixer_note on the wave mapper into a private PulseAudio null sink
# at RATE, recorded from its monitor into $E2E_WORK/NAME.wav (the tool's
# standard error in NAME.log): a fifth of a second of silence before the
# note, and TAIL_FRAMES more than the recording held when the tool ended.
# Gives pelvane_check_tone's verdict on it.
pulse_note() {
  local name=$1 rate=$2 tail=$3 recorder raw="$E2E_WORK/$1.raw"
  shift 3
  start_pulse "$rate"
  # The reader keeps the null sink running in real time.
  parec --device=null.monitor --latency-msec=20 --raw --format=s16le --rate="$rate" --channels=2 \
    >"$raw" 2>"$E2E_WORK/parec.log" &
  recorder=$!
  wait_for "[ \$(stat -c %s '$raw') -ge $((rate * 4 / 5)) ]" 20 || fail "parec records nothing"
  touch "$E2E_WORK/ready"
  "$PELVANE_BUILD/tests/tools/pelvane_mixer_note" "$E2E_WORK/ready" mapper "$@" 2>"$E2E_WORK/$name.log" ||
    { cat "$E2E_WORK/$name.log" >&2; fail "mixer_note at $name"; }
  wait_for "[ \$(stat -c %s '$raw') -ge $(($(stat -c %s "$raw") + tail * 4)) ]" 20 ||
    fail "parec stopped recording"
  kill -INT "$recorder"
  wait "$recorder" || true
  stop_pulse
  python3 - "$raw" "$E2E_WORK/$name.wav" "$rate" <<'PY'
import sys, wave
data = open(sys.argv[1], 'rb').read()
data = data[:len(data) // 4 * 4]
with wave.open(sys.argv[2], 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(int(sys.argv[3])); w.writeframes(data)
PY
  "$PELVANE_BUILD/tests/tools/pelvane_check_tone" "$E2E_WORK/$name.wav"
}

# judge_sound NAME COMMAND...: runs COMMAND, which records a sound and judges
# it (non-zero: the sound is wrong), with pelvane_stall_watch beside it. The
# servers downstream of the wave output hold 43 ms at the least (four periods
# of 1024 frames at 96000): a machine that holds back even its real-time
# threads for 20 ms or more leaves gaps that no program could fill, so a
# failed judgement made meanwhile is made again (three attempts at most). A
# failure on a machine that never stalled that long stands.
judge_sound() {
  local name=$1 attempt stall watch wrong
  shift
  for attempt in 1 2 3; do
    "$PELVANE_BUILD/tests/tools/pelvane_stall_watch" >"$E2E_WORK/stall" &
    watch=$!
    wrong=0
    "$@" || wrong=1
    kill -TERM "$watch"
    wait "$watch" || true
    stall=$(cat "$E2E_WORK/stall")
    if [ "$wrong" -eq 0 ]; then
      echo "$name: the longest stall of a real-time thread was $stall ms"
      return 0
    fi
    [ "${stall:-0}" -ge 20 ] || fail "$name (the longest stall of a real-time thread was ${stall:-?} ms)"
    echo "$name: the machine held back real-time threads for $stall ms while it was recorded; recording again"
  done
  fail "$name: three attempts on a machine that stalled each time"
}
