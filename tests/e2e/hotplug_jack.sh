#!/usr/bin/env bash
# Devices that come and go while Pelvane runs, on a private JACK server:
# a JACK MIDI client started after Pelvane is listed without any action of
# the user, is chosen and plays; Pelvane's own clients and ports (Start opens
# them) do not re-enumerate the lists; while running, another client that
# comes and goes and the played client leaving re-enumerate the lists, which
# stay disabled, and the sound goes on, recorded from the JACK graph.
# Prints how long after a client started it was listed.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work
unset DISPLAY
start_jack

# The echo's destination is there from the start.
"$build/tests/tools/pelvane_jack_keys" pvsink &
sink=$!
E2E_PIDS+=($sink)
wait_for "jack_lsp | grep -x 'pvsink:in' >/dev/null" 10 || fail "pvsink did not start"
mkdir "$work/run"
start_pelvane "$work/run"

# list_now LIST: asks Pelvane for the list and prints its answer. The
# window answers between two of its messages, and a Start or a device
# change before it opens JACK clients on the window's thread: the answer
# usually comes within 0.4 s, even beside CPU hogs, but on a loaded machine
# it may take more than 10 s without anything being wrong.
list_now() {
  local before
  before=$(grep -c ": Automation: list $1 " "$work/stderr" || true)
  echo "list $1" >&3
  wait_for "[ \$(grep -c ': Automation: list $1 ' '$work/stderr') -gt $before ]" 60 || fail "no answer to 'list $1'"
  grep ": Automation: list $1 " "$work/stderr" | tail -1 | sed -E 's/^0x[0-9A-F]{8}: //'
}
# wait_list LIST PATTERN [ABSENT]: until the list's line matches the pattern
# (grep -E) and, if given, no longer holds ABSENT.
wait_list() {
  local i line
  for ((i = 0; i < 100; i++)); do
    line=$(list_now "$1")
    if grep -qE "$2" <<<"$line" && { [ -z "${3:-}" ] || ! grep -qF "$3" <<<"$line"; }; then return 0; fi
    sleep 0.1
  done
  fail "the $1 list never matched '$2'${3:+ without '$3'}: $line"
}
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# (No "| grep -q" on a pipe: with pipefail, its early exit can fail the writer.)
line=$(list_now midiin)
! grep -qF pvkeys <<<"$line" || fail "pvkeys listed before it started: $line"
# Note 64 every second, held half a second.
"$build/tests/tools/pelvane_jack_keys" pvkeys 64 44100 22050 &
keys=$!
E2E_PIDS+=($keys)
t0=$(now_ms)
wait_list midiin "\(enabled, .*'JACK: pvkeys:out'"
echo "pvkeys:out listed $(($(now_ms) - t0)) ms after its client started (polled every 0.1 s)"

# The recorder's client is a new device too (a wave output): listed first, so
# that the choices below stay.
"$build/tests/tools/pelvane_jack_record" "$work/rec.wav" Pelvane "$work/ready" 60 &
recorder=$!
E2E_PIDS+=($recorder)
wait_list wave "'JACK: recorder'"
echo "select midiin pvkeys" >&3
echo "select echo pvsink" >&3
echo "start" >&3
wait_for "[ -f '$work/ready' ]" 20 || fail "Pelvane's output never appeared"
# The notes count from the first one played: Start opens the echo output
# and then the MIDI input after the wave output has come up, which on a
# loaded machine takes seconds (and the window answers nothing meanwhile).
wait_for "grep -qF 'Midi-In: Note ON (64, vel. 100)' '$work/stderr'" 20 || fail "no note played"
t_start=$(now_ms)
# Start registered our own clients and ports; give a re-enumeration they might
# cause time to happen: it would have cleared the echo choice.
sleep 1.5
line=$(list_now echo)
grep -qF "(disabled, selection 0): 'JACK: pvsink:in'" <<<"$line" ||
  fail "our own ports re-enumerated the lists: $line"

"$build/tests/tools/pelvane_jack_keys" pvother 60 44100 100 &
other=$!
E2E_PIDS+=($other)
t0=$(now_ms)
wait_list midiin "\(disabled, .*'JACK: pvother:out'"
echo "pvother:out listed $(($(now_ms) - t0)) ms after its client started, while running"
# The device change replaced the choices by the defaults, as on Windows.
line=$(list_now echo)
grep -qF "(disabled, selection -1)" <<<"$line" || fail "the echo choice survived a device change: $line"
kill -TERM "$other"
wait "$other"
wait_list midiin "\(disabled, " "pvother"
# Until pvkeys leaves: its leaving is listed some time later.
t_end=$(now_ms)
kill -TERM "$keys"
wait "$keys"
wait_list midiin "\(disabled, " "pvkeys"

kill -TERM "$recorder"
wait "$recorder"
echo "stop" >&3
wait_for "grep -qs ': Mixer: IsShutdown()$' '$work/stderr'" 20 || fail "Stop did not finish"
wait_list midiin "\(enabled, " "pvkeys"
stop_pelvane
kill -TERM "$sink"
wait "$sink"

# The run went on untouched: the wave output opened, the input opened once,
# played, and closed only after Stop. (Lines of two threads may share a line
# of standard error, so they are looked for as parts of lines.)
grep -qF 'Wave out opened' "$work/stderr" || fail "no 'Wave out opened'"
grep -qF 'Midi-In: Note ON (64, vel. 100)' "$work/stderr" || fail "no note played"
[ "$(grep -cF 'Midi-In successfully opened' "$work/stderr")" = 1 ] || fail "the MIDI input did not open once"
stopping=$(grep -nF 'Stopping synthesizer, please wait...' "$work/stderr" | head -1 | cut -d: -f1)
closed=$(grep -nF 'Midi-In successfully closed' "$work/stderr" | head -1 | cut -d: -f1)
[ -n "$stopping" ] && [ -n "$closed" ] && [ "$closed" -gt "$stopping" ] || fail "the MIDI input closed before Stop"
# Every second a note, from the first until pvkeys left, with no gap inside one.
notes=$(((t_end - t_start) / 1000 - 1))
"$build/tests/tools/pelvane_check_steady" "$work/rec.wav" 44100 22050 "$notes" || fail "the sound did not go on"
echo "PASS"
