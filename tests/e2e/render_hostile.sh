#!/usr/bin/env bash
# pelvane-render against what an unlucky or hostile command line gives it,
# each case made here: the input named as the output (directly, through a
# symbolic or a hard link), a wrong --dir, an output that is a device or a
# FIFO, FIFOs and /dev/zero as input, a file-size limit, a memory limit, a
# full standard output. Nothing the user had is ever lost or emptied, and
# each refusal is one error line with exit status 1.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/render.bash"
no_leftovers() { ! ls -a | grep '\.pelvane-' >/dev/null || fail "a temporary file was left: $(ls -a)"; }

"$build/tests/tools/pelvane_make_midi" tempo song.mid
"$render" song.mid good.wav 2>/dev/null
# A recorded take: note on 60 at 1500 ms, note off at 1800 ms.
printf '\xdc\x05\x00\x00\x90\x3c\x64\x00\x08\x07\x00\x00\x80\x3c\x40\x00' >take.pvd
cp take.pvd take.orig

# The input as the output, by any name: refused before anything is written.
ln -s take.pvd link.wav
ln take.pvd hard.wav
for out in take.pvd ./take.pvd "$work/take.pvd" link.wav hard.wav; do
  expect_error "pelvane-render: error: '$out': is the input file, it is not replaced" "$render" take.pvd "$out"
  cmp -s take.pvd take.orig || fail "'$out' changed the input"
done
# A wrong --dir is found before any file is touched.
expect_error "pelvane-render: error: cannot enter '/nonexistent': No such file or directory" \
  "$render" --dir /nonexistent take.pvd take.pvd
cmp -s take.pvd take.orig || fail "--dir /nonexistent changed the input"
cp good.wav keep.wav
expect_error "pelvane-render: error: cannot enter '/nonexistent': No such file or directory" \
  "$render" --dir /nonexistent song.mid keep.wav
cmp -s keep.wav good.wav || fail "a failed render changed the existing output"
no_leftovers

# A render that fails half-way (the file-size limit; SIGXFSZ is ignored, so
# the write fails) leaves the old output as it was and no temporary file.
status=0
(ulimit -f 64 && exec "$render" song.mid keep.wav) 2>err.txt || status=$?
[ "$status" -eq 1 ] || fail "under ulimit -f: exit status $status"
grep -qx "pelvane-render: error: 'keep.wav': cannot write the file: File too large" err.txt ||
  fail "under ulimit -f: $(tail -n 1 err.txt)"
cmp -s keep.wav good.wav || fail "a render cut by the file-size limit changed the existing output"
no_leftovers

# Through a symbolic link the file it names is replaced; the link stays.
printf 'old' >target.wav
ln -s target.wav out-link.wav
"$render" song.mid out-link.wav 2>/dev/null
[ -L out-link.wav ] || fail "the link was replaced"
cmp -s target.wav good.wav || fail "the file behind the link was not written"

# Outputs that are not regular files are refused, and stay what they were.
mkfifo out.fifo
expect_error "pelvane-render: error: 'out.fifo': not a regular file, it is not replaced" \
  "$render" song.mid out.fifo
[ -p out.fifo ] || fail "the FIFO was replaced"
if [ "$(id -u)" -eq 0 ]; then
  # A private copy of /dev/full (character device 1:7): a full disk, a node
  # that a failed render must never delete.
  mknod full c 1 7
  expect_error "pelvane-render: error: 'full': not a regular file, it is not replaced" "$render" song.mid full
  [ -c full ] || fail "the device node was removed"
else
  echo "SKIP device node output: not root"
fi

# Inputs that are not regular files are refused at once, never read.
mkfifo in.fifo
expect_error "pelvane-render: error: 'in.fifo': not a regular file" "$render" in.fifo out.wav
expect_error "pelvane-render: error: '/dev/zero': not a regular file" "$render" /dev/zero out.wav
truncate -s 300M sparse.pvd
expect_error "pelvane-render: error: 'sparse.pvd': larger than 256 MiB, too long for an input" \
  "$render" sparse.pvd out.wav
[ -e out.wav ] && fail "a refused render left out.wav"

# Out of memory is one line too. (The sanitizers reserve more address space
# than the limit allows; there the case is skipped.)
if ldd "$render" | grep -E 'lib(a|t)san' >/dev/null; then
  echo "SKIP memory limit: sanitizer build"
else
  # 128 MiB of one note-on record: a valid dump that needs more memory than
  # the limit leaves.
  printf '\x00\x00\x00\x00\x90\x3c\x64\x00' >big.pvd
  for _ in $(seq 24); do cat big.pvd big.pvd >twice.pvd && mv twice.pvd big.pvd; done
  status=0
  (ulimit -v 300000 && exec "$render" big.pvd big.wav) 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "under ulimit -v: exit status $status ($(tail -n 2 err.txt))"
  [ "$(cat err.txt)" = "pelvane-render: error: out of memory" ] || fail "under ulimit -v: $(cat err.txt)"
  rm big.pvd
fi

# The help text to a full device is a failure, not a success.
status=0
"$render" --help >/dev/full 2>err.txt || status=$?
[ "$status" -eq 1 ] || fail "--help >/dev/full: exit status $status"
[ "$(cat err.txt)" = "pelvane-render: error: cannot write the help text" ] || fail "--help: $(cat err.txt)"
"$render" --help | grep -- --verbose >/dev/null || fail "--help does not name --verbose"
echo PASS
