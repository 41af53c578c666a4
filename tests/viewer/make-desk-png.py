#!/usr/bin/env python3
"""Writes the desk texture of skin 2 (a small, seamless, faintly speckled grey tile)."""
import random, struct, sys, zlib

def png(path, w, h, pixel):
    raw = b''.join(b'\0' + b''.join(pixel(x, y) for x in range(w)) for y in range(h))
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

rng = random.Random(2)
def desk(x, y):
    v = 0x4b + rng.randint(-4, 4)
    return bytes((v, v + 7, v + 17))

png(sys.argv[1] if len(sys.argv) > 1 else 'desk.png', 48, 48, desk)
