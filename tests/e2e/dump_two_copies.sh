#!/usr/bin/env bash
# Two copies of Pelvane in one folder, starting runs at the same moment: each
# run still gets a dump file of its own. Both copies look for the first free
# name at once, so for most runs they find the same one and one of them loses
# the exclusive creation; that one goes on to the next name.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/pelvane.bash"
build=${PELVANE_BUILD:?}
runs=300
mkdir "$E2E_WORK/run"
cd "$E2E_WORK/run"
for copy in a b; do
  "$build/tests/tools/pelvane_dump_race" "$E2E_WORK/go" "$runs" 2>"$E2E_WORK/$copy.log" &
  E2E_PIDS+=($!)
  pids+=($!)
done
touch "$E2E_WORK/go"
for pid in "${pids[@]}"; do wait "$pid" || { cat "$E2E_WORK"/?.log >&2; fail "a run got no dump file"; }; done
! grep -h 'cannot be created' "$E2E_WORK"/?.log || fail "a run was not recorded"
count=$(ls | grep -c '^dump[0-9a-f]\{4\}\.pvd$')
[ "$count" -eq $((2 * runs)) ] || fail "$count dump files for $((2 * runs)) runs"
[ -f "$(printf 'dump%04x.pvd' $((2 * runs)))" ] || fail "the names have a gap"
echo PASS
