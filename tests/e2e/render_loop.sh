#!/usr/bin/env bash
# pelvane-render of a note held for 3 s on a 0.5 s sample whose smpl chunk
# loops its middle, with a release of 500 ms: the note sounds, at one level,
# for as long as it is held, then fades out evenly over 500 ms. The same set
# without the loop and release lines plays the sample once, 0.5 s.
source "${PELVANE_SOURCE:?}/tests/e2e/lib/render.bash"

mkdir looped once
# 22050 frames of a 441 Hz sine (100 frames a period), its smpl chunk
# looping frames 10000 to 19999: 100 whole periods.
python3 - <<'EOF'
import math, struct
frames = b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * i / 100))) for i in range(22050))
fmt = struct.pack("<HHIIHH", 1, 1, 44100, 88200, 2, 16)
smpl = struct.pack("<9I", 0, 0, 22676, 69, 0, 0, 0, 1, 0) + struct.pack("<6I", 0, 0, 10000, 19999, 0, 0)
def chunk(name, data):
    return name + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")
body = b"WAVE" + chunk(b"fmt ", fmt) + chunk(b"data", frames) + chunk(b"smpl", smpl)
for folder in ("looped", "once"):
    open(folder + "/tone.wav", "wb").write(b"RIFF" + struct.pack("<I", len(body)) + body)
EOF
printf 'PVID\ninstrument\nname Tone\nsample\nrelease 500\nfile tone.wav\nbase 69\nloop\n}\n}\n' >looped/default.pvi
printf 'PVID\ninstrument\nname Tone\nsample\nfile tone.wav\nbase 69\n}\n}\n' >once/default.pvi
# A dump: note on 69 (velocity 127) at 100 ms, note off at 3100 ms, the render running on
# to 4 s (a controller 7 that changes nothing).
printf '\x64\x00\x00\x00\x90\x45\x7f\x00\x1c\x0c\x00\x00\x80\x45\x40\x00\xa0\x0f\x00\x00\xb0\x07\x64\x00' >take.pvd

"$render" --verbose --dir looped take.pvd looped.wav 2>looped.log
"$render" --dir once take.pvd once.wav 2>/dev/null
grep -qx "0x[0-9A-F]*: Instrument ' Tone' with 1 samples has been loaded as ID 0" looped.log ||
  fail "the set did not load: $(cat looped.log)"
if grep "Sample: .tone.wav" looped.log; then fail "a line of the sample block was refused"; fi

# Levels (RMS of the left channel) per 1024-frame buffer: the held stretch
# must stay at its level, the fade must fall evenly to silence over 500 ms.
python3 - looped.wav once.wav <<'EOF' || fail "the envelope is not that of a held, looped, slowly released note"
import math, struct, sys
def left(path):
    data = open(path, "rb").read()[44:]
    return [struct.unpack_from("<h", data, 4 * i)[0] for i in range(len(data) // 4)]
def sounding(values):
    nonzero = [i for i, v in enumerate(values) if v]
    return nonzero[0], nonzero[-1]
looped, once = left(sys.argv[1]), left(sys.argv[2])
onset, last = sounding(looped)
onset -= onset % 1024  # frame 0 of the sine is 0: from its buffer's start
once_onset, once_last = sounding(once)
once_onset -= once_onset % 1024
print(f"played once: {once_onset}..{once_last} ({(once_last - once_onset) / 44.1:.0f} ms)")
assert once_onset == onset and 21000 < once_last - once_onset < 22050, "played once"
rms = lambda a, b: math.sqrt(sum(v * v for v in looped[a:b]) / (b - a))
held = rms(onset + 4096, onset + 8192)
levels = [rms(b, b + 1024) for b in range(onset, last - 1024, 1024)]
# The release comes a buffer before the first one clearly below the held
# level: a call takes its gain from the velocity it starts with.
fade = next(i for i, level in enumerate(levels) if level < 0.97 * held) - 1
fade_start = onset + 1024 * fade
held_ms, fade_ms = (fade_start - onset) / 44.1, (last - fade_start) / 44.1
print(f"onset {onset}, held level {held:.0f} for {held_ms:.0f} ms, then a fade of {fade_ms:.0f} ms to frame {last}")
assert all(abs(level - held) < 0.01 * held for level in levels[1:fade]), "the held level varies"
# The note is heard from the buffer after its note-on, and its release from
# the one after the three buffers already mixed ahead.
assert 3000 - 25 < held_ms < 3000 + 100, "held for 3 s"
assert abs(fade_ms - 500) < 50, "a fade of 500 ms"
# Evenly: a quarter, half and three quarters into it, the level is about
# three quarters, half and a quarter of the held one (velocity 127 of 128).
for part in (0.25, 0.5, 0.75):
    at = int(fade_start + part * 22050)
    ratio = rms(at - 512, at + 512) / held
    print(f"{part:.2f} into the fade: {ratio:.3f} of the held level")
    assert abs(ratio - (1 - part) * 128 / 127) < 0.06, f"level at {part} of the fade"
EOF
echo PASS
