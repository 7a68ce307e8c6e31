#!/usr/bin/env python3
"""The convert step's bit-file check on damaged bit files: a generated image, truncated,
extended, or with bytes overwritten, inserted or removed, is accepted or refused with Fault;
no other exception ever leaves the check. Deterministic: the same seed gives the same files.

  fuzz_bitfile.py [--seconds N] [--seed S]   runs until N seconds (default 10) have passed
"""
import argparse
import os
import random
import sys
import time

sys.dont_write_bytecode = True  # nothing is written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "firmware"))
import bitfile  # noqa: E402

INTERESTING = [0x00, 0x01, 0x09, 0x0F, 0x61, 0x65, 0x7F, 0x80, 0xAA, 0xFF]


def good_image(bitstream_length=64):
    header = bitfile.header_bytes(["design.ncd", "2vp100ff1152", "2011/10/17", "10:15:00"],
                                  bitstream_length)
    return header + bitfile.OPENING + bytes(bitstream_length - len(bitfile.OPENING))


def mutate(rng, data):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        kind = rng.randrange(5)
        at = rng.randrange(len(data) + 1)
        if kind == 0:
            del data[at:]
        elif kind == 1 and at < len(data):
            data[at] = rng.choice(INTERESTING) if rng.random() < 0.5 else rng.randrange(256)
        elif kind == 2:
            data[at:at] = bytes(rng.randrange(256) for _ in range(rng.randint(1, 8)))
        elif kind == 3:
            del data[at:at + rng.randint(1, 8)]
        else:
            data += bytes(rng.randint(1, 8))
    return bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--seed", type=int, default=20111017)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    seeds = [good_image(n) for n in (8, 64, 300)]
    for s in seeds:
        bitfile.check("seed.bit", s)  # the unmutated images pass
    end = time.monotonic() + args.seconds
    runs = accepted = 0
    while time.monotonic() < end:
        data = mutate(rng, rng.choice(seeds))
        try:
            bitfile.check("fuzz.bit", data)
            accepted += 1
        except bitfile.Fault:
            pass
        except Exception:
            print(f"bitfile.check raised on run {runs} (seed {args.seed}): {data.hex()}")
            raise
        runs += 1
    print(f"{'bitfile':<18} ok    executions {runs:<10} accepted {accepted}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
