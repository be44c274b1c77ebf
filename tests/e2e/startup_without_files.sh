# Start-up in a folder with neither default.wav nor default.pvi: exactly four
# lines, in order, all from the user-interface thread; exit code 0.
source "$PELVANE_SOURCE/tests/e2e/lib/pelvane.bash"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$E2E_WORK
unset DISPLAY
mkdir "$E2E_WORK/empty"
start_pelvane "$E2E_WORK/empty"
stop_pelvane
expected="Sample: Cannot open file 'default.wav': GLE = 2
Loading instrument set from 'default.pvi'...
Instrument set not loaded, file not found.
Pelvane ready"
actual=$(log_lines)
[ "$actual" = "$expected" ] || fail "start-up lines were:
$actual"
[ "$(grep -E -o '^0x[0-9A-F]{8}' "$E2E_WORK/stderr" | sort -u | wc -l)" -eq 1 ] || fail "more than one thread logged"
[ -z "$(ls "$E2E_WORK/empty")" ] || fail "start-up wrote files: $(ls "$E2E_WORK/empty")"
echo "PASS"
