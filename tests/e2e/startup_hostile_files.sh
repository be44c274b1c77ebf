#!/usr/bin/env bash
# Start-up among hostile files, each made here: FIFOs as default.wav, as a
# sample file and as default.pvi; default.wav a link to /dev/zero or 64 MiB
# of zeros; an instrument name with terminal escapes. Pelvane gets ready each
# time, with one line for each file it refuses, and shows the escapes as text
# on standard error.
source "$PELVANE_SOURCE/tests/e2e/lib/pelvane.bash"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$E2E_WORK
unset DISPLAY

# A FIFO without a writer: a blocking open would wait for ever.
kit=$E2E_WORK/fifos
mkdir "$kit"
mkfifo "$kit/default.wav" "$kit/pipe.wav"
sox -n -r 22050 -b 16 -c 1 "$kit/tone.wav" synth 0.2 sine 440
printf 'PVID\ninstrument\nID 3\nname \033]0;owned\007Bell\nsample\nfile pipe.wav\n}\nsample\nfile tone.wav\n}\n}\n' >"$kit/default.pvi"
start_pelvane "$kit"
stop_pelvane
expected="Sample: Cannot open file 'default.wav': not a regular file
Loading instrument set from 'default.pvi'...
Sample: Cannot open file 'pipe.wav': not a regular file
Instrument ' \\x1B]0;owned\\x07Bell' with 1 samples has been loaded as ID 3
Pelvane ready"
actual=$(log_lines)
[ "$actual" = "$expected" ] || fail "start-up lines with FIFOs were:
$actual"
grep -q $'\033' "$E2E_WORK/stderr" && fail "an escape character reached standard error"

# The instrument set itself a FIFO; default.wav a link to /dev/zero.
kit=$E2E_WORK/devices
mkdir "$kit"
mkfifo "$kit/default.pvi"
ln -s /dev/zero "$kit/default.wav"
rm "$E2E_WORK/control"
start_pelvane "$kit"
stop_pelvane
expected="Sample: Cannot open file 'default.wav': not a regular file
Loading instrument set from 'default.pvi'...
Instrument set not loaded, not a regular file.
Pelvane ready"
actual=$(log_lines)
[ "$actual" = "$expected" ] || fail "start-up lines with a FIFO set and /dev/zero were:
$actual"

# 64 MiB of zeros (sparse): walked through a buffer and refused; a set
# without its magic says so.
kit=$E2E_WORK/zeros
mkdir "$kit"
truncate -s 64M "$kit/default.wav"
printf 'instrument\nID 1\n}\n' >"$kit/default.pvi"
rm "$E2E_WORK/control"
start=$(date +%s.%N)
start_pelvane "$kit"
ready=$(date +%s.%N)
stop_pelvane
expected="Sample: Cannot open file 'default.wav': no WAVE chunk
Loading instrument set from 'default.pvi'...
Instrument set not loaded, the file does not begin with \"PVID\".
Pelvane ready"
actual=$(log_lines)
[ "$actual" = "$expected" ] || fail "start-up lines with zeros were:
$actual"
awk -v a="$start" -v b="$ready" 'BEGIN { printf "start-up with 64 MiB of zeros as default.wav: %.2f s\n", b - a }'
echo "PASS"
