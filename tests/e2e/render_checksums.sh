#!/usr/bin/env bash
# pelvane-render keeps its bytes: the generated dense song (with the built-in
# tone and with the example instruments), the generated sparse piece and a
# generated keyboard session's dump render to exactly the files whose SHA-256
# sums render_checksums.sha256 keeps. Those sums come from the frame-by-frame
# engine that preceded the vector kernels and the one-thread render.
set -euo pipefail
build=${PELVANE_BUILD:?}
source_dir=${PELVANE_SOURCE:?}
render="$build/tools/pelvane-render"
tools="$build/tests/tools"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$tools/pelvane_make_midi" song 180 song.mid
"$tools/pelvane_make_sparse" piece 600 sparse.mid
"$tools/pelvane_make_sparse" dump 180 take.pvd
cp -r "$source_dir/examples" kit
mkdir tone  # no default.wav, no default.pvi: the built-in tone everywhere
(cd tone && "$render" ../song.mid ../song-tone.wav 2>/dev/null)
"$render" --dir kit song.mid song-kit.wav 2>/dev/null
"$render" --dir kit sparse.mid sparse-kit.wav 2>/dev/null
"$render" --dir kit take.pvd take-kit.wav 2>/dev/null
sha256sum -c "$source_dir/tests/e2e/render_checksums.sha256"
echo PASS
