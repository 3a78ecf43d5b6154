#!/usr/bin/env python3
"""Writes resources/sounds/finished.wav, the short chime Quillo plays when the queue has run dry.

Two soft bell tones (A5 then E6) with a quick attack and an exponential decay, 16-bit mono at
22050 Hz, about half a second. Run from the repository root; the output is deterministic.
"""
import math
import struct
import sys
import wave

RATE = 22050


def tone(frequency, start, length, samples):
    for i in range(int(length * RATE)):
        t = i / RATE
        envelope = min(1.0, t / 0.005) * math.exp(-t * 7.0)
        # a little of the octave gives the tone a bell-like colour
        value = math.sin(2 * math.pi * frequency * t) + 0.25 * math.sin(4 * math.pi * frequency * t)
        samples[int(start * RATE) + i] += 0.3 * envelope * value


def main(path):
    samples = [0.0] * int(0.55 * RATE)
    tone(880.0, 0.0, 0.30, samples)
    tone(1318.5, 0.12, 0.43, samples)
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", max(-32767, min(32767, round(s * 32767)))) for s in samples))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "resources/sounds/finished.wav")
