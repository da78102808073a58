#!/usr/bin/env python3
"""Makes the benchmark's inputs once, into the folder given:
  small.zip     5,000 entries of 2 KB to 100 KB in 50 folders, half text-like
                (compressible) and half random, about 150 MB unpacked;
  large.zip     4 entries of 256 MiB each (two random, two text-like), 1 GiB
                unpacked;
  download.bin  1 GiB of random bytes, served for the download figure;
  cdn.zip       20 entries, about 2 MB, the archive of the CDN runs.
An input that exists already is kept (delete the folder to make them anew)."""
import os
import random
import sys
import zipfile

WORDS = (b"launcher archive entry client update texture model sound level "
         b"script config player server version patch shader font map ").split()


def text_like(rng, size):
    out = bytearray()
    while len(out) < size:
        out += b" ".join(rng.choice(WORDS) for _ in range(64)) + b"\n"
    return bytes(out[:size])


def make_small(path):
    rng = random.Random(5000)
    tmp = path + ".part"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as z:
        for i in range(5000):
            size = rng.randint(2 * 1024, 38 * 1024) if i % 5 else rng.randint(38 * 1024, 100 * 1024)
            data = text_like(rng, size) if i % 2 else os.urandom(size)
            z.writestr("pack%02d/sub/file%04d.dat" % (i % 50, i), data)
    os.replace(tmp, path)


def make_large(path):
    rng = random.Random(4)
    tmp = path + ".part"
    chunk = 16 << 20
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED, compresslevel=1, allowZip64=True) as z:
        for i in range(4):
            with z.open("data/big%d.bin" % i, "w", force_zip64=True) as out:
                block = text_like(rng, chunk) if i % 2 else None
                for _ in range((256 << 20) // chunk):
                    out.write(block if block is not None else os.urandom(chunk))
    os.replace(tmp, path)


def make_download(path):
    tmp = path + ".part"
    with open(tmp, "wb") as out:
        for _ in range(64):
            out.write(os.urandom(16 << 20))
    os.replace(tmp, path)


def make_cdn(path):
    rng = random.Random(20)
    tmp = path + ".part"
    with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(20):
            data = text_like(rng, 100 * 1024) if i % 2 else os.urandom(100 * 1024)
            z.writestr("cdn/file%02d.dat" % i, data)
    os.replace(tmp, path)


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, make in (("small.zip", make_small), ("large.zip", make_large), ("download.bin", make_download),
                       ("cdn.zip", make_cdn)):
        path = os.path.join(folder, name)
        if not os.path.exists(path):
            print("[bench] making %s" % name, flush=True)
            make(path)


if __name__ == "__main__":
    main()
