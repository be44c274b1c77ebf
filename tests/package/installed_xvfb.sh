#!/usr/bin/env bash
# The installed program's first run: the Debian package's files extracted into
# a temporary root (dpkg-deb -x), the program started as its menu entry says,
# from an empty home folder, under Xvfb on a private JACK server. The window
# appears and names its desktop entry; the user folder is made and filled
# from the installed example kit; Start writes the dump file there, and
# nothing lands in the home folder itself.
# Usage: tests/package/installed_xvfb.sh PELVANE.deb
set -euo pipefail
deb=$(realpath "${1:?usage: tests/package/installed_xvfb.sh PELVANE.deb}")
if [ -z "${E2E_UNDER_XVFB:-}" ]; then
  export E2E_UNDER_XVFB=1
  exec xvfb-run -a -s "-screen 0 800x600x24" bash "$0" "$deb"
fi
export PELVANE_SOURCE=${PELVANE_SOURCE:-$(cd "$(dirname "$0")/../.." && pwd)}
source "$PELVANE_SOURCE/tests/e2e/lib/pelvane.bash"
root=$E2E_WORK/root
dpkg-deb -x "$deb" "$root"
desktop=$root/usr/share/applications/org.pelvane.Pelvane.desktop
exec_line=$(sed -n 's/^Exec=//p' "$desktop")
[ "$exec_line" = "pelvane --user-folder" ] || fail "the desktop entry starts '$exec_line'"
export HOME=$E2E_WORK/home XDG_RUNTIME_DIR=$E2E_WORK
unset PELVANE_HOME XDG_DATA_HOME
mkdir -m 700 "$HOME"
folder=$HOME/.local/share/pelvane

start_jack
mkfifo "$E2E_WORK/control"
# As a menu starts it: in the home folder, by the command the entry names.
(cd "$HOME" && PATH="$root/usr/bin:$PATH" PELVANE_CONTROL=stdin exec $exec_line \
  <"$E2E_WORK/control" 2>"$E2E_WORK/stderr") &
PELVANE_PID=$!
E2E_PIDS+=($PELVANE_PID)
exec 3>"$E2E_WORK/control"
wait_for "grep -qs ': Pelvane ready$' '$E2E_WORK/stderr'" 20 ||
  { cat "$E2E_WORK/stderr" >&2; fail "the installed Pelvane did not get ready"; }
window=$(xdotool search --sync --onlyvisible --name '^Pelvane$' | head -1)
[ -n "$window" ] || fail "no window named Pelvane"
# An X11 window manager finds the entry, and with it the icon, by the class.
wm_class=$(sed -n 's/^StartupWMClass=//p' "$desktop")
xprop -id "$window" WM_CLASS | grep -qF ", \"$wm_class\"" ||
  fail "the window's class is not the entry's '$wm_class': $(xprop -id "$window" WM_CLASS)"

for file in "$root"/usr/share/pelvane/examples/*; do
  cmp -s "$file" "$folder/${file##*/}" || fail "${file##*/} was not copied into $folder"
done
in_order "Made $folder with the example instruments ($root/usr/share/pelvane/examples); set PELVANE_HOME to use another folder." \
  "Pelvane runs in $folder: default.pvi, default.wav and the dump files are there." \
  "Loading instrument set from 'default.pvi'..." \
  "Instrument ' Organ' with 2 samples has been loaded as ID 0" \
  "Pelvane ready"

echo start >&3
wait_for "[ -f '$folder/dump0001.pvd' ]" 10 || fail "Start made no dump file in $folder: $(ls -A "$folder")"
wait_for "log_lines | grep -x 'Wave out opened' >/dev/null" 20 || fail "Start opened no wave output"
echo stop >&3
wait_for "grep -qs ': Mixer: IsShutdown()$' '$E2E_WORK/stderr'" 20 || fail "Stop did not finish"
stop_pelvane
stop_jack
written=$(find "$HOME" -maxdepth 1 -mindepth 1 ! -name .local ! -name .cache ! -name .config)
[ -z "$written" ] || fail "written into the home folder: $written"
echo PASS
