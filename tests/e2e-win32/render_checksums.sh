#!/usr/bin/env bash
# The Windows pelvane-render under Wine gives the same bytes as the Linux one:
# the inputs and sums of tests/e2e/render_checksums.sh, made and rendered by
# this build's Windows programs.
set -euo pipefail
build=${PELVANE_BUILD:?}
source_dir=${PELVANE_SOURCE:?}
run=${PELVANE_WINE_RUN:-$build/wine-run}
render="$build/tools/pelvane-render.exe"
tools="$build/tests/tools"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$run" "$tools/pelvane_make_midi.exe" song 180 song.mid
"$run" "$tools/pelvane_make_sparse.exe" piece 600 sparse.mid
"$run" "$tools/pelvane_make_sparse.exe" dump 180 take.pvd
cp -r "$source_dir/examples" kit
mkdir tone
(cd tone && "$run" "$render" ../song.mid ../song-tone.wav 2>/dev/null)
"$run" "$render" --dir kit song.mid song-kit.wav 2>/dev/null
"$run" "$render" --dir kit sparse.mid sparse-kit.wav 2>/dev/null
"$run" "$render" --dir kit take.pvd take-kit.wav 2>/dev/null
sha256sum -c "$source_dir/tests/e2e/render_checksums.sha256"
echo PASS
