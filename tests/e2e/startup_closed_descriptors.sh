#!/usr/bin/env bash
# Started with standard output and error closed (`>&- 2>&-`), the programs
# open them on /dev/null first, so that no file they open later takes
# descriptor 1 or 2 and gets the log lines: the window program's own
# descriptors (its event descriptors) stay above 2, and pelvane-render's
# output is the same bytes as with standard error open.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
work=$E2E_WORK
export QT_QPA_PLATFORM=offscreen
unset DISPLAY
export JACK_DEFAULT_SERVER=pelvane-e2e-none-$$ JACK_NO_START_SERVER=1

mkdir "$work/run"
mkfifo "$work/control"
(cd "$work/run" && PELVANE_CONTROL=stdin exec "$build/app/main/pelvane" <"$work/control" >&- 2>&-) &
pid=$!
E2E_PIDS+=($pid)
exec 3>"$work/control"
# Running once its event descriptors are there.
wait_for "ls -l /proc/$pid/fd 2>/dev/null | grep -q 'anon_inode:\[eventfd\]'" 20 || fail "Pelvane did not start"
for fd in 1 2; do
  [ "$(readlink "/proc/$pid/fd/$fd")" = /dev/null ] || fail "descriptor $fd is $(readlink "/proc/$pid/fd/$fd")"
done
echo close >&3
exec 3>&-
rc=0
wait "$pid" || rc=$?
[ "$rc" -eq 0 ] || fail "exit code $rc"

cd "$work"
"$build/tests/tools/pelvane_make_midi" tempo tempo.mid
"$build/tools/pelvane-render" tempo.mid open.wav 2>/dev/null
"$build/tools/pelvane-render" tempo.mid closed.wav >&- 2>&- || fail "the render failed with standard error closed"
cmp -s open.wav closed.wav || fail "the render with standard error closed differs"
echo PASS
