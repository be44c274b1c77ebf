#!/usr/bin/env bash
# Generates the example instrument set's WAV files with sox (nothing is taken
# from elsewhere). Run from anywhere; writes next to this script. Dither is off
# so the files come out the same every time.
set -euo pipefail
cd "$(dirname "$0")"
gen() { sox -D -V1 -n "$@"; }
# Organ, two samples: C3 (MIDI 48) and C5 (MIDI 72), 16-bit mono at 22050 Hz.
gen -r 22050 -b 16 -c 1 organ-c3.wav synth 1.2 sine 130.81 sine 261.63 remix - \
  fade 0.02 1.2 0.3 gain -6
gen -r 22050 -b 16 -c 1 organ-c5.wav synth 1.2 sine 523.25 sine 1046.5 remix - \
  fade 0.02 1.2 0.3 gain -6
# Bass: A1 (MIDI 33), a filtered sawtooth, 8-bit unsigned mono at 11025 Hz.
gen -r 11025 -b 8 -e unsigned-integer -c 1 bass-a1.wav synth 1.5 sawtooth 55 \
  lowpass 800 fade 0.005 1.5 0.4 gain -3
# Pad: A4 (MIDI 69), a slightly detuned sine per channel, 16-bit stereo at 22050 Hz.
gen -r 22050 -b 16 -c 2 pad-a4.wav synth 1.5 sine 440 sine 442.5 fade 0.2 1.5 0.5 gain -8
# Default sound for every program without an instrument: a short pluck on E4
# (MIDI 64), the note at which every WAV file plays at its own rate.
gen -r 44100 -b 16 -c 1 default.wav synth 0.8 pluck 329.63 fade 0 0.8 0.2 gain -4
