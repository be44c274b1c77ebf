#!/usr/bin/env bash
# pelvane.exe under Wine on a real X display (Xvfb), as a Windows user gets
# it: the zip (pelvane-VERSION-win64.zip) unpacked into an empty folder, the
# version resource and the manifest read from the program in it, the program
# started there with a private PulseAudio behind it, the window found
# and photographed, Start and Stop clicked with xdotool, a dump file created,
# WM_CLOSE posted; the debugger output must show start-up, the run and the stop
# in order, the example kit from the zip loaded and the manifest's version 6
# common controls bound, and the exit code must be 0. The screenshot is kept in
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

version=$(sed -n -E 's/^project\(Pelvane VERSION ([0-9.]+) .*/\1/p' "$PELVANE_SOURCE/CMakeLists.txt")
zip=$build/pelvane-$version-win64.zip
mkdir "$work/run"
unzip -q "$zip" -d "$work/run"
[ "$(cd "$work/run" && LC_ALL=C ls | tr '\n' ' ')" = \
  "LICENSE.txt README.txt bass-a1.wav default.pvi default.wav organ-c3.wav organ-c5.wav pad-a4.wav pelvane.exe " ] ||
  { echo "the zip holds: $(ls "$work/run")"; exit 1; }
cmp "$work/run/default.pvi" "$PELVANE_SOURCE/examples/default.pvi"
head -n 1 "$work/run/LICENSE.txt" | grep -qx $'MIT License\r'
exe=$work/run/pelvane.exe

# The imports: system DLLs only.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
  tr 'a-z' 'A-Z' | sort | tr '\n' ' ')
echo "imports: $imports"
for dll in $imports; do
  case $dll in
    KERNEL32.DLL | USER32.DLL | GDI32.DLL | WINMM.DLL | MSVCRT.DLL | ADVAPI32.DLL) ;;
    *) echo "pelvane.exe imports $dll, which is not a system DLL"; exit 1 ;;
  esac
done

# The resources: the icon group "MAINICON" with its two images, the version
# and the manifest, nothing else.
resources=$(x86_64-w64-mingw32-windres -i "$exe" -O rc)
kinds=$(grep -o -e '/\* RT_[A-Z_]* \*/' -e '^1 VERSIONINFO' <<<"$resources" | sort | uniq -c | tr -s ' ' | tr '\n' ';')
echo "resources: $kinds"
[ "$kinds" = " 1 /* RT_GROUP_ICON */; 2 /* RT_ICON */; 1 /* RT_MANIFEST */; 1 1 VERSIONINFO;" ]
grep -q '^"MAINICON" 14 ' <<<"$resources"
# The version Explorer shows is the project's (python3-pefile reads it), and
# the manifest asks for the user's own rights and the version 6 common
# controls, and declares no DPI awareness (the layout is in fixed pixels).
/usr/bin/python3 - "$exe" "$version" "$work/manifest.xml" <<'EOF2'
import sys, pefile
pe = pefile.PE(sys.argv[1])
strings = {}
for info in pe.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        for table in info.StringTable:
            strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
fixed = pe.VS_FIXEDFILEINFO[0]
numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16)
print("version resource:", strings, numbers)
want = sys.argv[2]
assert strings["FileVersion"] == want and strings["ProductVersion"] == want, strings
assert ".".join(map(str, numbers)) == want, numbers
assert strings["OriginalFilename"] == "pelvane.exe" and strings["ProductName"] == "Pelvane", strings
for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
    if entry.id == 24:  # RT_MANIFEST
        data = entry.directory.entries[0].directory.entries[0].data.struct
        open(sys.argv[3], "wb").write(pe.get_data(data.OffsetToData, data.Size))
EOF2
grep -q 'level="asInvoker"' "$work/manifest.xml"
grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$work/manifest.xml"
! grep -qi 'dpiAware' "$work/manifest.xml"

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
cd "$work/run"
export PELVANE_WINE_DISPLAY=1
# +actctx: Wine's trace of the activation context the manifest asks for.
WINEDEBUG=-all,+debugstr,+actctx "$run" "$exe" 2>"$work/debug.log" &
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
grep -x -F -e "Loading instrument set from 'default.pvi'..." \
  -e "Instrument ' Organ' with 2 samples has been loaded as ID 0" \
  -e "Instrument ' Bass' with 1 samples has been loaded as ID 32" \
  -e "Instrument ' Pad' with 1 samples has been loaded as ID 88" -e "Pelvane ready" -e "Wave out opened" \
  -e "Stopping synthesizer, please wait..." -e "Mixer: ScheduleShutdown()" \
  -e "Mixer: WaitForShutdown()" -e "Mixer: IsShutdown()" "$work/texts" >"$work/order"
diff -u - "$work/order" <<'EOF2'
Loading instrument set from 'default.pvi'...
Instrument ' Organ' with 2 samples has been loaded as ID 0
Instrument ' Bass' with 1 samples has been loaded as ID 32
Instrument ' Pad' with 1 samples has been loaded as ID 88
Pelvane ready
Wave out opened
Stopping synthesizer, please wait...
Mixer: ScheduleShutdown()
Mixer: WaitForShutdown()
Mixer: IsShutdown()
EOF2
grep -qxF "Midi-In thread termination" "$work/texts"
# The manifest is in force: the process's activation context binds the
# version 6 common controls from Wine's side-by-side store.
grep -q 'lookup_assembly looking for name=L"Microsoft.Windows.Common-Controls" version=6.0.0.0' "$work/debug.log"
grep -q 'get_manifest_in_manifest_file loading manifest file .*microsoft.windows.common-controls_6595b64144ccf1df_6\.' "$work/debug.log"
[ "$(ls dump*.pvd)" = dump0001.pvd ]
echo "wine gui: ok"
