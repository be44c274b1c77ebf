#!/usr/bin/env bash
# Runs every Google Benchmark program of bench/ (bench/bench_NAME.cpp becomes
# BUILD_DIR/bench/bench_NAME) one after the other with the options given, and
# fails when a program is missing, does not end with exit code 0, or reports
# an error ("ERROR OCCURRED"); a figure this processor cannot give (a vector
# path it lacks) is not an error. The programs' log lines go to a file, shown
# when the program fails. Times are printed, never checked.
# Usage: bench/run.sh BUILD_DIR [BENCHMARK OPTIONS...]
set -uo pipefail
build=${1:?usage: bench/run.sh BUILD_DIR [BENCHMARK OPTIONS...]}
shift
source_dir=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for source in "$source_dir"/bench/bench_*.cpp; do
  name=$(basename "$source" .cpp)
  program="$build/bench/$name"
  if [ ! -x "$program" ]; then
    echo "$name: not built ($program)" >&2
    failed+=("$name")
    continue
  fi
  echo "=== $name"
  "$program" "$@" 2>"$work/$name.log" | tee "$work/$name.out"
  rc=${PIPESTATUS[0]}
  errors=$(grep 'ERROR OCCURRED' "$work/$name.out" | grep -vF "'this processor cannot run that path'")
  if [ "$rc" -ne 0 ] || [ -n "$errors" ]; then
    echo "$name: exit code $rc${errors:+, errors:}" >&2
    [ -z "$errors" ] || echo "$errors" >&2
    echo "$name: the last lines of its log:" >&2
    tail -n 20 "$work/$name.log" >&2
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}" >&2
  exit 1
fi
