#!/usr/bin/env bash
# --version and --help of every program, without a display: each prints and
# exits 0, the version is the one CMake's project() names, and every option
# --help shows is in the program's man page.
set -euo pipefail
build=${PELVANE_BUILD:?}
source_dir=${PELVANE_SOURCE:?}
fail() { echo "FAIL: $*"; exit 1; }
unset DISPLAY WAYLAND_DISPLAY
version=$(sed -n -E 's/^project\(Pelvane VERSION ([0-9.]+) .*/\1/p' "$source_dir/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"
for program in app/main/pelvane tools/pelvane-render tools/pelvane-import; do
  name=${program##*/}
  [ -x "$build/$program" ] || { [ "$name" = pelvane-import ] && continue; fail "no $program"; }
  out=$("$build/$program" --version) || fail "$name --version exited $?"
  [ "$(head -n 1 <<<"$out")" = "$name $version" ] || fail "$name --version: $out"
  help=$("$build/$program" --help) || fail "$name --help exited $?"
  grep -q "^Usage: $name " <<<"$help" || fail "$name --help: $help"
  man=$source_dir/packaging/man/$name.1
  [ -f "$man" ] || fail "no man page for $name"
  for option in $(grep -o -E -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
    sed 's/\\-/-/g' "$man" | grep -q -E -- "Fl ${option#-}( |$)" ||
      fail "$name: $option is in --help but not in $man"
  done
done
set +e
"$build/app/main/pelvane" --no-such-option 2>/dev/null
[ $? -eq 2 ] || fail "an unknown argument does not exit with 2"
echo PASS
