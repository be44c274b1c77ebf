#!/usr/bin/env bash
# pelvane-render stopped by SIGINT, SIGTERM and SIGHUP in the middle of a long
# render: it removes its temporary file, leaves the existing output as it
# was, and exits with 128 + the signal's number. An output name of 250 bytes
# renders (its temporary name is cut to fit the 255 bytes of a name); a
# signal ignored from the start (nohup) stays ignored.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/render.bash"

"$build/tests/tools/pelvane_make_sparse" piece 3600 long.mid
echo "the old take" >out.wav
# wait_for_sound: until the temporary file holds sound, not only its header.
wait_for_sound() {
  local i size=0
  for ((i = 0; i < 200; i++)); do
    size=$(stat -c %s .out.wav.pelvane-*.tmp 2>/dev/null || echo 0)
    [ "$size" -gt 1000000 ] && return 0
    sleep 0.05
  done
  fail "the render wrote nothing"
}
# expect_end PID CODE WHAT: the render ended with CODE, leaving nothing.
expect_end() {
  local rc=0
  wait "$1" || rc=$?
  [ "$rc" -eq "$2" ] || fail "exit code $rc after $3"
  ! ls -A | grep -F '.pelvane-' || fail "the temporary file was left after $3"
  [ "$(cat out.wav)" = "the old take" ] || fail "$3 touched the existing output"
}
for signal in INT TERM HUP; do
  # A background job of a script ignores SIGINT unless told otherwise.
  env --default-signal=INT "$render" long.mid out.wav 2>render.log &
  pid=$!
  wait_for_sound
  kill -"$signal" "$pid"
  expect_end "$pid" $((128 + $(kill -l "$signal"))) "SIG$signal"
done
# Ignored from the start (as by nohup, or here by the shell), SIGINT changes
# nothing; SIGTERM still ends the run.
"$render" long.mid out.wav 2>render.log &
pid=$!
wait_for_sound
kill -INT "$pid"
sleep 0.3
kill -0 "$pid" || fail "an ignored SIGINT ended the render"
kill -TERM "$pid"
expect_end "$pid" 143 "an ignored SIGINT and SIGTERM"

"$build/tests/tools/pelvane_make_midi" tempo short.mid
long_name=$(printf 'n%.0s' {1..246}).wav
"$render" short.mid "$long_name" 2>long.log || fail "an output name of 250 bytes: $(tail -n 1 long.log)"
[ -s "$long_name" ] || fail "nothing rendered under a name of 250 bytes"
echo PASS
