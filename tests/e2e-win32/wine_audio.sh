#!/usr/bin/env bash
# The Windows Mixer under Wine, on real waveOut: Wine plays into a private
# PulseAudio server with a null sink, whose monitor we record. One note of the
# default instrument on WAVE_MAPPER must come out at about 438.7 Hz, and the
# debugger output must show the device opening and the three stop lines.
# Then, with no sound server at all, there is no device, and the Mixer still
# starts and stops.
set -euo pipefail
build=${PELVANE_BUILD:?}
run=${PELVANE_WINE_RUN:-$build/wine-run}
tools=$build/tests/tools
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

source "${PELVANE_SOURCE:?}/tests/e2e-win32/lib.bash"

# Every wave device below comes from this private server only.
start_pulse "$work"

# The reader keeps the null sink running in real time.
parec --device=null.monitor --latency-msec=20 --raw --format=s16le --rate=44100 \
  --channels=2 >"$work/rec.raw" 2>"$work/parec.log" &
recorder=$!
pids+=($recorder)
# recorded_at_least BYTES: the recording has reached BYTES.
recorded_at_least() { [ "$(stat -c %s "$work/rec.raw")" -ge "$1" ]; }
# A fifth of a second of silence before the note, and after it a third of a
# second more than the recording held when the program ended.
wait_for "recorded_at_least $((44100 * 4 / 5))" 20 ||
  { echo "parec records nothing"; cat "$work/parec.log"; exit 1; }
touch ready  # in the current directory, which is the Windows program's too

WINEDEBUG=-all,+debugstr "$run" "$tools/pelvane_mixer_note.exe" ready mapper 2>"$work/note.log" \
  || { echo "mixer_note failed"; cat "$work/note.log"; exit 1; }
wait_for "recorded_at_least $(($(stat -c %s "$work/rec.raw") + 44100 * 4 / 3))" 20 ||
  { echo "parec stopped recording"; exit 1; }
kill -INT "$recorder"
wait "$recorder" || true

python3 - "$work/rec.raw" "$work/rec.wav" <<'PY'
import sys, wave
data = open(sys.argv[1], 'rb').read()
data = data[:len(data) // 4 * 4]
with wave.open(sys.argv[2], 'wb') as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100); w.writeframes(data)
PY
"$run" "$tools/pelvane_check_tone.exe" rec.wav

echo "--- debugger output of the note run"
debug_lines "$work/note.log"
debug_texts "$work/note.log" >"$work/texts"
grep -qx "Wave out opened" "$work/texts" || { echo "no 'Wave out opened'"; exit 1; }
grep -x -e "Wave out opened" -e "Mixer: ScheduleShutdown()" -e "Mixer: WaitForShutdown()" \
  -e "Mixer: IsShutdown()" "$work/texts" >"$work/mixer-lines"
diff -u - "$work/mixer-lines" <<'EOF2'
Wave out opened
Mixer: ScheduleShutdown()
Mixer: WaitForShutdown()
Mixer: IsShutdown()
EOF2

# No sound server: no device, and the Mixer starts and stops all the same.
kill "${pids[0]}"
wait "${pids[0]}" 2>/dev/null || true
pids=()
export PULSE_SERVER="unix:$work/nothing-here"
# (A Windows program's standard output ends its lines with CR LF.)
WINEDEBUG=-all,+debugstr "$run" "$tools/pelvane_wave_probe.exe" 2>"$work/probe.log" |
  tr -d '\r' >"$work/probe.out"
cat "$work/probe.out"
grep -qx "devices 0" "$work/probe.out"
grep -qx "stopped" "$work/probe.out"
debug_texts "$work/probe.log" >"$work/texts"
grep -q "Wave out opened" "$work/texts" && { echo "a device opened without a server"; exit 1; }
# The failed open is told in one line, with the system's own words (waveOutGetErrorTextA).
grep -E -x "Mixer: waveOutOpen\(\) failed: [0-9]+ \(.+\)" "$work/texts" ||
  { echo "the failed open was not told"; exit 1; }
grep -x -e "Mixer: ScheduleShutdown()" -e "Mixer: WaitForShutdown()" -e "Mixer: IsShutdown()" \
  "$work/texts" | diff -u - <(printf '%s\n' "Mixer: ScheduleShutdown()" \
  "Mixer: WaitForShutdown()" "Mixer: IsShutdown()")
echo "wine audio: ok"
