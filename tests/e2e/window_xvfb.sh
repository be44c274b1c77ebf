# The real window under Xvfb on a private JACK server: Start and Stop clicked
# with xdotool at the buttons' places, a dump file created, start-up and stop
# lines in order on standard error. The screenshot taken while running is
# kept as build/e2e-artifacts/window_xvfb.png.
if [ -z "${E2E_UNDER_XVFB:-}" ]; then
  export E2E_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0"
fi
source "$PELVANE_SOURCE/tests/e2e/lib/pelvane.bash"
export XDG_RUNTIME_DIR=$E2E_WORK
artifacts=$PELVANE_BUILD/e2e-artifacts
mkdir -p "$artifacts" "$E2E_WORK/run"
start_jack
start_pelvane "$E2E_WORK/run"
window=$(xdotool search --sync --onlyvisible --name '^Pelvane$' | head -1)
[ -n "$window" ] || fail "no window named Pelvane"
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$X,$Y,$WIDTH,$HEIGHT" = "20,20,600,440" ] || fail "window at $X,$Y size ${WIDTH}x$HEIGHT"

# Start: x 1..299, Stop: x 300..598 of the client area; both 24 high at y 415.
xdotool mousemove --window "$window" 150 427 click 1
wait_for "ls '$E2E_WORK/run'/dump*.pvd >/dev/null 2>&1" 10 || fail "Start made no dump file"
[ -f "$E2E_WORK/run/dump0001.pvd" ] || fail "the dump file is not dump0001.pvd: $(ls "$E2E_WORK/run")"
# The screenshot shows the window while it plays.
wait_for "log_lines | grep -x 'Wave out opened' >/dev/null" 20 || fail "Start opened no wave output"
import -window root "$artifacts/window_xvfb.png"
xdotool mousemove --window "$window" 450 427 click 1
wait_for "grep -qs ': Mixer: IsShutdown()$' '$E2E_WORK/stderr'" 20 || fail "Stop did not finish"
stop_pelvane

in_order "Sample: Cannot open file 'default.wav': GLE = 2" \
  "Loading instrument set from 'default.pvi'..." \
  "Instrument set not loaded, file not found." \
  "Pelvane ready" \
  "Stopping synthesizer, please wait..." \
  "Mixer: ScheduleShutdown()" \
  "Mixer: WaitForShutdown()" \
  "Mixer: IsShutdown()"
# Nothing logs between the start-up lines and "Pelvane ready".
[ "$(log_lines | sed -n 4p)" = "Pelvane ready" ] || fail "'Pelvane ready' is not the fourth line"
echo "PASS (screenshot: $artifacts/window_xvfb.png)"
