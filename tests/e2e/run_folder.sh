#!/usr/bin/env bash
# scripts/run-pelvane, which `make run` uses: Pelvane starts in PELVANE_HOME,
# else $XDG_DATA_HOME/pelvane, else ~/.local/share/pelvane; a folder made on
# first use holds the example instrument set, one that exists is left as it is.
set -euo pipefail
source_dir=${PELVANE_SOURCE:?}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
# The program stand-in says where it was started.
where=$(type -P pwd)

out=$(PELVANE_HOME="$work/mine" "$source_dir/scripts/run-pelvane" "$where")
[ "$(tail -n 1 <<<"$out")" = "$work/mine" ] || fail "not started in PELVANE_HOME: $out"
for file in default.pvi default.wav organ-c3.wav organ-c5.wav bass-a1.wav pad-a4.wav; do
  cmp -s "$work/mine/$file" "$source_dir/examples/$file" || fail "$file was not copied from examples/"
done
echo "my own set" >"$work/mine/default.pvi"
PELVANE_HOME="$work/mine" "$source_dir/scripts/run-pelvane" "$where" >/dev/null
[ "$(cat "$work/mine/default.pvi")" = "my own set" ] || fail "an existing folder was refilled"

out=$(env -u PELVANE_HOME XDG_DATA_HOME="$work/data" "$source_dir/scripts/run-pelvane" "$where")
[ "$(tail -n 1 <<<"$out")" = "$work/data/pelvane" ] || fail "not started in XDG_DATA_HOME: $out"
out=$(env -u PELVANE_HOME -u XDG_DATA_HOME HOME="$work/home" "$source_dir/scripts/run-pelvane" "$where")
[ "$(tail -n 1 <<<"$out")" = "$work/home/.local/share/pelvane" ] || fail "not started in ~/.local/share: $out"
[ -f "$work/home/.local/share/pelvane/default.pvi" ] || fail "the default folder was not filled"
echo PASS
