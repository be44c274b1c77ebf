#!/usr/bin/env bash
# The JACK server dies under the running program, once with the wave output
# on JACK (the MIDI input elsewhere: none), once with only the MIDI input on
# JACK (the wave output on a private PulseAudio). Stop comes 0, 0.1, 1, 3 and
# 10 s after the loss, a Start with no server in between; each loss is told
# in one line; a new server plays again; closing the window after a loss
# ends the program normally; so does closing it while the server is wedged.
# libjack frees every client of a dead server at
# the next jack_client_open anywhere in the process, so any use of a held
# client after that (a crash) fails the run.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
export QT_QPA_PLATFORM=offscreen
unset DISPLAY
delays=(0 0.1 1 3 10)

count() { log_lines | grep -c -- "$1" || true; }
# wait_count PATTERN N WHAT: until the log holds N lines matching PATTERN.
wait_count() {
  wait_for "[ \$(count '$1') -ge $2 ]" 30 || fail "$3 (wanted $2 lines '$1', got $(count "$1"))"
}
wait_listed() {
  local i
  for ((i = 0; i < 100; i++)); do
    echo "list $1" >&3
    sleep 0.1
    log_lines | grep "^Automation: list $1 " | tail -1 | grep -qF "$2" && return 0
  done
  fail "'$2' never appeared in the $1 list"
}

run_mode() {
  local mode=$1 n=0 delay
  echo "--- $mode"
  rm -rf "$work/run" "$work/control"
  mkdir "$work/run"
  start_jack
  start_pelvane "$work/run"
  for delay in "${delays[@]}"; do
    n=$((n + 1))
    [ $n -eq 1 ] || start_jack
    if [ "$mode" = wave ]; then
      wait_listed wave "'JACK: system'"
      echo "select wave JACK: system" >&3
    else
      "$build/tests/tools/pelvane_jack_keys" pvkeys 64 44100 22050 &
      keys=$!
      E2E_PIDS+=($keys)
      wait_listed midiin "'JACK: pvkeys:out'"
      echo "select wave PulseAudio" >&3
      echo "select midiin pvkeys" >&3
    fi
    echo start >&3
    wait_count '^Wave out opened$' $n "Start $n did not open the wave output"
    if [ "$mode" = midi ]; then
      wait_count '^Midi-In successfully opened$' $n "Start $n did not open the MIDI input"
      wait_count '^Midi-In: Note ON (64, vel. 100)$' $n "Start $n played nothing"
      kill -TERM "$keys"
      wait "$keys" || true
    fi
    stop_jack
    sleep "$delay"
    echo stop >&3
    wait_count '^Mixer: IsShutdown()$' $((2 * n - 1)) "Stop $delay s after the loss did not complete"
    # A Start without a server, then its Stop.
    echo start >&3
    sleep 0.2
    echo stop >&3
    wait_count '^Mixer: IsShutdown()$' $((2 * n)) "Stop of the Start without a server did not complete"
    kill -0 "$PELVANE_PID" || fail "the program died after a loss and Stop $delay s later"
    if [ "$mode" = wave ]; then
      wait_count '^Wave out lost: the JACK server has gone away (' $n "loss $n of the wave output not told"
    else
      wait_count '^Midi-In lost: the JACK server has gone away (' $n "loss $n of the MIDI input not told"
    fi
  done
  # Back on a new server, the program plays; then the window closes 1 s after
  # that server's loss too.
  start_jack
  rm -f "$work/ready"
  if [ "$mode" = wave ]; then
    "$build/tests/tools/pelvane_jack_record" "$work/rec.wav" Pelvane "$work/ready" 60 &
    recorder=$!
    E2E_PIDS+=($recorder)
    wait_listed wave "'JACK: system'"
    echo "select wave JACK: system" >&3
    echo start >&3
    wait_for "[ -f '$work/ready' ]" 20 || fail "no output on the new server"
  else
    "$build/tests/tools/pelvane_jack_keys" pvkeys 64 44100 22050 &
    keys=$!
    E2E_PIDS+=($keys)
    wait_listed midiin "'JACK: pvkeys:out'"
    echo "select wave PulseAudio" >&3
    echo "select midiin pvkeys" >&3
    echo start >&3
    wait_count '^Midi-In: Note ON (64, vel. 100)$' $((n + 1)) "nothing played on the new server"
    kill -TERM "$keys"
    wait "$keys" || true
  fi
  [ "$mode" = wave ] && { kill -TERM "$recorder"; wait "$recorder" || true; }
  stop_jack
  sleep 1
  stop_pelvane
  local lines
  lines=$(count '^Wave out lost: the JACK server')
  [ "$lines" -eq $([ "$mode" = wave ] && echo $((n + 1)) || echo 0) ] || fail "$lines wave output losses told"
  lines=$(count '^Midi-In lost: the JACK server')
  [ "$lines" -eq $([ "$mode" = midi ] && echo $((n + 1)) || echo 0) ] || fail "$lines MIDI input losses told"
  ! grep -F 'clients are still allocated' "$work/stderr" || fail "libjack freed clients still held"
}

run_mode wave
start_pulse 44100
run_mode midi
stop_pulse

# A server that stops answering (SIGSTOP) while the program plays on it: the
# window still closes, within the close's bound, with one line.
echo "--- wedged"
rm -rf "$work/run" "$work/control"
mkdir "$work/run"
unset PULSE_SERVER
# A short client time-out: once running again, the server gives up on the
# client that left while it was stopped within seconds, not a minute.
start_jack 44100 1024 500
start_pelvane "$work/run"
wait_listed wave "'JACK: system'"
echo "select wave JACK: system" >&3
echo start >&3
wait_count '^Wave out opened$' 1 "Start did not open the wave output"
kill -STOP "$E2E_JACK_PID"
stop_pelvane
kill -CONT "$E2E_JACK_PID"
[ "$(count '^JACK: the server does not answer; its clients were left open after ')" -eq 1 ] ||
  fail "giving up on the wedged server was not told once"
stop_jack
echo PASS
