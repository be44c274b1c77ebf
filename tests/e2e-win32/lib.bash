# Shared by the Wine end-to-end scripts (sourced, not run on its own).

source "$(dirname "${BASH_SOURCE[0]}")/../e2e/lib/wait.bash"

# The lines a Windows program wrote with OutputDebugStringA, in order, from a
# Wine log made with WINEDEBUG=+debugstr (each call appears as
# TID:warn:debugstr:OutputDebugStringA "TEXT"); the separate line feeds left out.
debug_lines() {
  sed -n 's/^[0-9a-f]*:[a-z]*:debugstr:OutputDebugStringA "\(.*\)"$/\1/p' "$1" | grep -v '^\\n$' || true
}
# The same without the thread-id prefix "0x%.8X: ".
debug_texts() { debug_lines "$1" | sed -n 's/^0x[0-9A-F]\{8\}: //p'; }

# Starts a private PulseAudio server with a null sink "null" (44100 Hz,
# stereo) in DIR; every Wine program started afterwards plays into it.
# Appends the server's pid to the array pids.
start_pulse() {
  local dir=$1
  mkdir -m 700 "$dir/xdg"
  export XDG_RUNTIME_DIR="$dir/xdg" PULSE_SERVER="unix:$dir/xdg/pulse/native"
  HOME="$dir" pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
    --load="module-null-sink sink_name=null rate=44100 channels=2" \
    --load=module-native-protocol-unix >"$dir/pulse.log" 2>&1 &
  pids+=($!)
  wait_for "pactl info >/dev/null 2>&1" 10 && return 0
  echo "PulseAudio did not start"
  cat "$dir/pulse.log"
  return 1
}

# Waits up to SECONDS for a line with exactly TEXT in the debugger output of LOG.
wait_for_text() {
  local log=$1 text=$2 seconds=$3
  wait_for "debug_texts $(printf %q "$log") | grep -xF $(printf %q "$text") >/dev/null" "$seconds" && return 0
  echo "no '$text' within ${seconds}s"
  return 1
}
