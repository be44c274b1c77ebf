#!/usr/bin/env bash
# The real-time rules, counted from outside the code: the whole program on a
# real-time JACK server (jackd -R, 48000 frames/s, 256-frame periods) with the
# counting library preloaded (tests/support/RealTimeCounter.cpp). Two MIDI
# sources play into its input, one a note the instrument set maps, one a
# note it does not (each of those logs a line under Mixer::Lock), and
# standard error is a pipe read slowly. Over 10 s of play, every real-time
# thread and every thread holding Mixer::Lock must make no heap call, lock no
# mutex without priority inheritance, and neither write nor sleep.
# RTCOUNT_SECONDS shortens or lengthens the counted stretch.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
seconds=${RTCOUNT_SECONDS:-10}
library=$build/tests/libpelvane_rtcount.so
[ -f "$library" ] || { echo "SKIP: no counting library in this build (sanitizer build)"; exit 0; }
if ! chrt -f 1 true 2>/dev/null; then
  echo "SKIP: this machine grants no real-time scheduling"
  exit 0
fi

export JACK_DEFAULT_SERVER=pelvane-rt-$$ JACK_NO_START_SERVER=1
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work
unset DISPLAY
jackd -n "$JACK_DEFAULT_SERVER" -R -S -t 5000 -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
E2E_JACK_PID=$!
E2E_PIDS+=($E2E_JACK_PID)
wait_for "jack_lsp >/dev/null 2>&1" 10 || { cat "$work/jackd.log" >&2; fail "the JACK server did not start"; }

# An instrument that maps notes 60 to 70 only: note 64 plays, note 30 is
# "an unassigned sample".
mkdir "$work/run"
cp "$PELVANE_SOURCE/examples/organ-c5.wav" "$work/run/"
printf 'PVID counted\ninstrument\n{\nID 0\nname Counted\nsample\n{\nfile organ-c5.wav\nbase 72\nbegin 60\nend 70\n}\n}\n' \
  >"$work/run/default.pvi"

"$build/tests/tools/pelvane_jack_keys" rtkeys 64 4800 2400 >"$work/keys.log" 2>&1 &
E2E_PIDS+=($!)
"$build/tests/tools/pelvane_jack_keys" rtstray 30 960 480 >"$work/stray.log" 2>&1 &
E2E_PIDS+=($!)
wait_for "jack_lsp | grep -q '^rtstray:out$' && jack_lsp | grep -q '^rtkeys:out$'" 10 ||
  fail "the MIDI sources did not start"

# Standard error into a pipe whose reader takes a line every 20 ms while
# $work/slow exists: far slower than the lines come, so the pipe is full most
# of the time. At the close it reads at full speed again.
mkfifo "$work/control" "$work/errpipe"
touch "$work/slow"
(while IFS= read -r line; do
  printf '%s\n' "$line" >>"$work/stderr"
  [ ! -e "$work/slow" ] || sleep 0.02
done <"$work/errpipe") &
E2E_PIDS+=($!)
(cd "$work/run" && PELVANE_CONTROL=stdin LD_PRELOAD="$library" \
  PELVANE_RTCOUNT_CONTROL="$work/counting" PELVANE_RTCOUNT_REPORT="$work/report" \
  exec "$build/app/main/pelvane" <"$work/control" 2>"$work/errpipe") &
PELVANE_PID=$!
E2E_PIDS+=($PELVANE_PID)
exec 3>"$work/control"
wait_for "grep -qs ': Pelvane ready$' '$work/stderr'" 60 || fail "Pelvane did not get ready"
echo "select wave JACK: system" >&3
echo "select midiin rtkeys" >&3
echo start >&3
wait_for "jack_lsp | grep -q 'Pelvane MIDI:MIDI In'" 10 || fail "the MIDI input did not open"
jack_connect rtstray:out "Pelvane MIDI:MIDI In" || fail "cannot connect the second source"
# Past the opening (the device's set-up allocates, as it may), then counted.
sleep 2
touch "$work/counting"
sleep "$seconds"
rm "$work/counting"
wait_for "[ -s '$work/report' ]" 10 || fail "no report from the counting library"
# Named threads, and ours below JACK's own client threads ("jack client"),
# which the server runs at its client priority.
ours=0 jacks=0
for task in /proc/$PELVANE_PID/task/*; do
  name=$(cat "$task/comm")
  policy=$(chrt -p "${task##*/}" | sed -n 's/.*policy: //p')
  priority=$(chrt -p "${task##*/}" | sed -n 's/.*priority: //p')
  echo "thread ${task##*/} '$name' $policy priority $priority"
  [ "$policy" = SCHED_FIFO ] || continue
  case "$name" in
    Mixer | "wave relay") ours=$((priority > ours ? priority : ours)) ;;
    *) jacks=$((priority > jacks ? priority : jacks)) ;;
  esac
done >"$work/threads"
cat "$work/threads"
grep -q "'Mixer' SCHED_FIFO" "$work/threads" || fail "no real-time thread named Mixer"
grep -q "'wave relay' SCHED_FIFO" "$work/threads" || fail "no real-time thread named wave relay"
grep -q "'MidiIn' " "$work/threads" || fail "no thread named MidiIn"
[ "$jacks" -gt 0 ] && [ "$ours" -lt "$jacks" ] || fail "our threads ($ours) are not below JACK's ($jacks)"

rm "$work/slow"
echo stop >&3
echo close >&3
exec 3>&-
wait_for "! kill -0 $PELVANE_PID 2>/dev/null" 30 || fail "Pelvane did not exit"
rc=0
wait "$PELVANE_PID" || rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc"

cat "$work/report"
read -r _ heap _ locks _ writes _ sleeps _ pilocks _ realtime < <(head -1 "$work/report")
records=$(($(stat -c %s "$work/run/dump0001.pvd") / 8))
echo "dump records: $records"
# The run did what it is meant to: notes of both sources were handled under
# Mixer::Lock, and the mixer and the wave device's threads ran real-time.
[ "$records" -ge $((seconds * 100)) ] || fail "too few MIDI messages handled ($records)"
[ "$pilocks" -gt $((seconds * 50)) ] || fail "Mixer::Lock was hardly taken ($pilocks)"
[ "$realtime" -ge 2 ] || fail "fewer than two real-time threads seen"
grep -q 'unassigned sample (note 30' "$work/stderr" || fail "no unmapped note was played"
[ "$heap" -eq 0 ] || fail "$heap heap calls"
[ "$locks" -eq 0 ] || fail "$locks locks of mutexes without priority inheritance"
[ "$writes" -eq 0 ] || fail "$writes writes that can block"
[ "$sleeps" -eq 0 ] || fail "$sleeps sleeps"
echo PASS
