#!/usr/bin/env bash
# pelvane-import end to end on a generated SFZ kit (24-bit, float and FLAC
# samples, a loop_sustain region, #define, Windows path separators): the
# folder it writes, a note rendered from it in tune; then bad input, each
# one error line with exit status 1 and nothing half-written: a truncated
# and a corrupted font, a kit naming a missing file, an OUTDIR that is a
# file or read-only, an existing default.pvi without --force.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/render.bash"
chmod 755 "$work"
no_leftovers() {
  ! find "$work" -name '*.pelvane-import-*' | grep . || fail "a temporary folder was left"
}

mkdir -p kit/Samples
sox -n -b 24 kit/Samples/a440.wav synth 1 sine 440 vol 0.5
sox -n -e floating-point -b 32 kit/Samples/f220.wav synth 1 sine 220 vol 0.5
sox -n kit/Samples/c.flac synth 1 sine 261.63 vol 0.5
cat >kit/kit.sfz <<'SFZ'
// generated kit
#define $A 69
<control> default_path=Samples\
<global> ampeg_release=0.5 bend_up=200
<region> sample=a440.wav lokey=60 hikey=71 pitch_keycenter=$A
<region> sample=f220.wav key=57 loop_mode=loop_sustain loop_start=100 loop_end=299
<region> sample=c.flac lokey=72 hikey=84 pitch_keycenter=c4
SFZ
"$import" kit/kit.sfz out >summary.txt 2>err.txt || fail "import: $(cat err.txt)"
grep -q '^Imported 1 instruments (3 sample blocks, 0 zones dropped) into out: 3 WAV files' summary.txt ||
  fail "summary: $(cat summary.txt)"
[ ! -s err.txt ] || fail "standard error: $(cat err.txt)"
[ -f out/default.pvi ] && [ -f out/import-report.txt ] || fail "files: $(ls out)"
grep -q '^not read: bend_up$' out/import-report.txt || fail "unknown opcode not named"
grep -q '^        loop 100 299 sustain$' out/default.pvi || fail "loop: $(cat out/default.pvi)"
grep -q '^        release 210$' out/default.pvi || fail "release: $(cat out/default.pvi)"
# 16-bit PCM at the samples' own rate.
for wav in out/*.wav; do
  [ "$(soxi -b "$wav")" = 16 ] || fail "$wav is not 16-bit"
done

# Note 69 for 1 s through the imported set: 440 Hz.
printf '\x00\x00\x00\x00\x90\x45\x7f\x00\xe8\x03\x00\x00\x80\x45\x40\x00' >note.pvd
"$render" --dir out note.pvd note.wav 2>/dev/null || fail "render"
python3 - note.wav <<'PY' || fail "the rendered note is not 440 Hz"
import struct, sys, wave
w = wave.open(sys.argv[1])
data = struct.unpack("<%dh" % (w.getnframes() * 2), w.readframes(w.getnframes()))
left = data[0::2][4410:4410 + 22050]  # 0.1 s to 0.6 s
crossings = sum(1 for a, b in zip(left, left[1:]) if a < 0 <= b)
print("frequency", crossings * 2, "peak", max(left))
sys.exit(0 if abs(crossings * 2 - 440) <= 2 and max(left) > 1000 else 1)
PY

# Bad input.
expect_error "pelvane-import: error: an existing 'out/default.pvi' is kept (--force replaces it)" \
  "$import" kit/kit.sfz out
"$import" --force kit/kit.sfz out >/dev/null 2>&1 || fail "--force"
no_leftovers
cp kit/kit.sfz kit/missing.sfz
echo '<region> sample=gone.wav' >>kit/missing.sfz
expect_error "pelvane-import: error: 'kit/missing.sfz': cannot read the sample 'Samples/gone.wav': System error : No such file or directory." \
  "$import" kit/missing.sfz missing
[ ! -e missing ] || fail "a failed import left its folder"
touch afile
expect_error "pelvane-import: error: 'afile' exists and is not a folder" "$import" kit/kit.sfz afile
echo 'not a font' >junk.sf2
expect_error "pelvane-import: error: 'junk.sf2' is neither a SoundFont (RIFF sfbk) nor an SFZ kit" \
  "$import" junk.sf2 junk
font=/usr/share/sounds/sf2/TimGM6mb.sf2
head -c 4000000 "$font" >truncated.sf2
expect_error "pelvane-import: error: 'truncated.sf2': the file is truncated" \
  "$import" truncated.sf2 truncated
# The font's preset list, its header damaged.
python3 - "$font" corrupted.sf2 <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(b"phdr")
data[at + 4:at + 8] = (37).to_bytes(4, "little")
open(sys.argv[2], "wb").write(data)
PY
expect_error "pelvane-import: error: 'corrupted.sf2': the preset data list is damaged" \
  "$import" corrupted.sf2 corrupted
mkdir readonly
chmod 555 readonly
runas=()
[ "$(id -u)" -eq 0 ] && runas=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
expect_error "pelvane-import: error: cannot write into 'readonly': Permission denied" \
  "${runas[@]}" "$import" kit/kit.sfz readonly
[ -z "$(ls -A readonly)" ] || fail "the read-only folder got files"
for dir in missing afile junk truncated corrupted; do [ "$dir" = afile ] || [ ! -e "$dir" ] || fail "$dir exists"; done
no_leftovers
echo "PASS"
