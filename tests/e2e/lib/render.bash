# The common start of the scripts that drive pelvane-render and
# pelvane-import: strict mode, the programs, a working folder removed at the
# end (and the current one), fail, and expect_error.
set -euo pipefail
build=${PELVANE_BUILD:?}
render="$build/tools/pelvane-render"
import="$build/tools/pelvane-import"
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }
# expect_error TEXT COMMAND...: the command exits with status 1, its standard
# error exactly TEXT (2 minutes at the most).
expect_error() {
  local expected=$1 status=0
  shift
  timeout 120 "$@" >out.txt 2>err.txt || status=$?
  [ "$status" -eq 1 ] || fail "$*: exit status $status ($(cat err.txt))"
  [ "$(cat err.txt)" = "$expected" ] || fail "$*: expected [$expected], got [$(cat err.txt)]"
}
