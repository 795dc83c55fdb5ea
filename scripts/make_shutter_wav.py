#!/usr/bin/env python3
"""Writes resources/shutter.wav: the camera's shutter click.

8-bit unsigned PCM, mono, 11025 samples per second, exactly 5480 bytes of
samples (about half a second): two short clacks, the shutter opening and the
mirror coming back, each a decaying noise burst over a low thump, then silence.
Deterministic, so the committed file can be remade byte for byte.
"""
import math
import random
import struct
import sys
from pathlib import Path

RATE = 11025
SAMPLES = 5480


def clack(t, start, loudness):
    """One clack at `start` seconds: noise plus a 180 Hz thump, both decaying fast."""
    dt = t - start
    if dt < 0:
        return 0.0
    noise = random.uniform(-1.0, 1.0) * math.exp(-dt / 0.006)
    thump = math.sin(2 * math.pi * 180 * dt) * math.exp(-dt / 0.02)
    return loudness * (0.7 * noise + 0.5 * thump)


def main():
    random.seed(8)
    data = bytearray()
    for i in range(SAMPLES):
        t = i / RATE
        value = clack(t, 0.004, 0.9) + clack(t, 0.095, 0.6)
        value = max(-1.0, min(1.0, value))
        data.append(max(0, min(255, 128 + round(value * 127))))
    assert len(data) == SAMPLES
    header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVE"
    fmt = b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, RATE, RATE, 1, 8)
    out = header + fmt + b"data" + struct.pack("<I", len(data)) + bytes(data)
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "resources" / "shutter.wav"
    target.write_bytes(out)


if __name__ == "__main__":
    main()
