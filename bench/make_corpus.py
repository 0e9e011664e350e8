#!/usr/bin/env python3
"""Makes the benchmark corpora under DIR, scaled by SCALE (default 1.0).

    bench/make_corpus.py DIR [CORPUS...]

Corpora (file counts at SCALE 1):
  mixed     about 100,000 files of many sizes (log-spread up to 1 MiB) in
            nested directories; some empty, about 15% copies of another file,
            some near-copies that differ in one byte
  distinct  20,000 files of 4 KiB, all different
  prefix    2,000 files of 1 MiB sharing their first 64 KiB
  large     3 groups of 3 copies of 256 MiB, and one 256 MiB file alone
  tiny      500,000 files of 1 to 64 bytes in directories 8 levels deep
A corpus whose directory exists already is kept. Seeded: the same SCALE
always makes the same trees.
"""
import os
import random
import sys

SCALE = float(os.environ.get("SCALE", "1"))


def n(count):
    return max(2, int(count * SCALE))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def mixed(root, rnd):
    files = n(100000)
    made = []
    for k in range(files):
        d = os.path.join(root, "a%02d" % (k % 37), "b%03d" % (k // 100 % 300), "c%d" % (k % 3))
        os.makedirs(d, exist_ok=True)
        path = os.path.join(d, "f%06d" % k)
        r = rnd.random()
        if r < 0.03:
            data = b""
        elif r < 0.18 and made:
            data = made[rnd.randrange(len(made))]
        elif r < 0.21 and made:
            data = bytearray(made[rnd.randrange(len(made))])
            if data:
                data[rnd.randrange(len(data))] ^= 0x5A
            data = bytes(data)
        else:
            size = int(2 ** rnd.uniform(0, 20))
            data = rnd.randbytes(size)
            if len(made) < 2000 or rnd.random() < 0.02:
                made.append(data)
        write(path, data)


def distinct(root, rnd):
    for k in range(n(20000)):
        d = os.path.join(root, "d%03d" % (k // 500))
        os.makedirs(d, exist_ok=True)
        write(os.path.join(d, "f%06d" % k), rnd.randbytes(4096))


def prefix(root, rnd):
    head = rnd.randbytes(64 * 1024)
    for k in range(n(2000)):
        d = os.path.join(root, "d%02d" % (k // 100))
        os.makedirs(d, exist_ok=True)
        write(os.path.join(d, "f%05d" % k), head + rnd.randbytes(1024 * 1024 - len(head)))


def large(root, rnd):
    size = max(1, int(256 * SCALE)) * 1024 * 1024
    os.makedirs(root, exist_ok=True)
    for g in range(4):
        block = rnd.randbytes(1024 * 1024)
        copies = 1 if g == 3 else 3
        for c in range(copies):
            with open(os.path.join(root, "g%d-copy%d" % (g, c)), "wb") as f:
                for k in range(size // len(block)):
                    f.write(bytes([k & 255, g]) + block[2:])


def tiny(root, rnd):
    for k in range(n(500000)):
        parts = ["t%d" % ((k >> (2 * level)) % 4) for level in range(8)]
        d = os.path.join(root, *parts)
        if k < 4 ** 8:
            os.makedirs(d, exist_ok=True)
        write(os.path.join(d, "f%06d" % k), rnd.randbytes(rnd.randint(1, 64)))


CORPORA = {"mixed": mixed, "distinct": distinct, "prefix": prefix, "large": large, "tiny": tiny}


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    base = sys.argv[1]
    for name in sys.argv[2:] or list(CORPORA):
        root = os.path.join(base, name)
        if os.path.isdir(root):
            continue
        CORPORA[name](root + ".part", random.Random(name + str(SCALE)))
        os.rename(root + ".part", root)
        print("made", root, file=sys.stderr)


if __name__ == "__main__":
    main()
