#!/usr/bin/env bash
# pelvane.exe under Wine on a real X display (Xvfb): started in an empty
# temporary directory with a private PulseAudio behind it, the window found
# and photographed, Start and Stop clicked with xdotool, a dump file created,
# WM_CLOSE posted; the debugger output must show start-up, the run and the stop
# in order, and the exit code must be 0. The screenshot is kept in
# $PELVANE_BUILD/artifacts/.
set -euo pipefail
build=${PELVANE_BUILD:?}
run=${PELVANE_WINE_RUN:-$build/wine-run}
source "${PELVANE_SOURCE:?}/tests/e2e-win32/lib.bash"
work=$(mktemp -d)
artifacts="$build/artifacts"
mkdir -p "$artifacts"
pids=()
program=
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  # The desktop process must not keep this display for later headless runs.
  "$run" --kill || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The imports: system DLLs only.
imports=$(x86_64-w64-mingw32-objdump -p "$build/pelvane.exe" | sed -n 's/^\s*DLL Name: //p' |
  tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
echo "imports: $imports"
for dll in $imports; do
  case $dll in
    KERNEL32.DLL | USER32.DLL | GDI32.DLL | WINMM.DLL | MSVCRT.DLL | ADVAPI32.DLL) ;;
    *) echo "pelvane.exe imports $dll, which is not a system DLL"; exit 1 ;;
  esac
done

# The resources: the icon group "MAINICON" with its two images, nothing else.
resources=$(x86_64-w64-mingw32-windres -i "$build/pelvane.exe" -O rc)
kinds=$(grep -o '/\* RT_[A-Z_]* \*/' <<<"$resources" | sort | uniq -c | tr -s ' ' | tr '\n' ';')
echo "resources: $kinds"
[ "$kinds" = " 1 /* RT_GROUP_ICON */; 2 /* RT_ICON */;" ]
grep -q '^"MAINICON" 14 ' <<<"$resources"

start_pulse "$work"
parec --device=null.monitor --latency-msec=20 --raw >/dev/null 2>&1 &
pids+=($!)

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for "[ -s '$work/display' ]" 20 || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(cat "$work/display")"
echo "display $DISPLAY"

# A headless desktop process may still run from the unit tests.
"$run" --kill
mkdir "$work/run"
cd "$work/run"
export PELVANE_WINE_DISPLAY=1
WINEDEBUG=-all,+debugstr "$run" "$build/pelvane.exe" 2>"$work/debug.log" &
program=$!

window=
for _ in $(seq 300); do
  window=$(xdotool search --name '^Pelvane$' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "no window 'Pelvane'"; cat "$work/debug.log"; exit 1; }
wait_for_text "$work/debug.log" "Pelvane ready" 30
eval "$(xdotool getwindowgeometry --shell "$window")"
echo "window $window at $X,$Y size ${WIDTH}x$HEIGHT"
sleep 0.5
import -window root "$artifacts/wine-window.png"

# The buttons share the bottom 26 pixels of the client area, Start on the
# left half and Stop on the right; the frame below them is a few pixels.
click() {
  xdotool mousemove --sync "$1" "$2" click 1
}
button_y=$((Y + HEIGHT - 17))
click $((X + WIDTH / 4)) "$button_y"
wait_for_text "$work/debug.log" "Wave out opened" 20
wait_for "[ -e dump0001.pvd ]" 20 || { echo "Start made no dump file"; ls -la; exit 1; }
sleep 0.5
import -window root "$artifacts/wine-window-running.png"
click $((X + WIDTH * 3 / 4)) "$button_y"
wait_for_text "$work/debug.log" "Mixer: IsShutdown()" 20

"$run" "$build/tests/tools/pelvane_post_close.exe" Pelvane
status=0
wait_for "! kill -0 $program 2>/dev/null" 30 || echo "pelvane.exe did not exit"
wait "$program" || status=$?
program=
echo "exit code $status"
[ "$status" -eq 0 ]

echo "--- debugger output"
debug_lines "$work/debug.log"
debug_texts "$work/debug.log" >"$work/texts"
# Start-up, the run and the stop, in this order, as the user-interface and
# mixer threads wrote them (the MIDI input thread's line may fall anywhere).
grep -x -F -e "Sample: Cannot open file 'default.wav': GLE = 2" \
  -e "Loading instrument set from 'default.pvi'..." \
  -e "Instrument set not loaded, file not found." -e "Pelvane ready" -e "Wave out opened" \
  -e "Stopping synthesizer, please wait..." -e "Mixer: ScheduleShutdown()" \
  -e "Mixer: WaitForShutdown()" -e "Mixer: IsShutdown()" "$work/texts" >"$work/order"
diff -u - "$work/order" <<'EOF2'
Sample: Cannot open file 'default.wav': GLE = 2
Loading instrument set from 'default.pvi'...
Instrument set not loaded, file not found.
Pelvane ready
Wave out opened
Stopping synthesizer, please wait...
Mixer: ScheduleShutdown()
Mixer: WaitForShutdown()
Mixer: IsShutdown()
EOF2
grep -qxF "Midi-In thread termination" "$work/texts"
[ "$(ls dump*.pvd)" = dump0001.pvd ]
echo "wine gui: ok"
