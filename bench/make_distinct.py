#!/usr/bin/env python3
"""Writes a GBK text of paragraphs of hanzi drawn evenly from all 6,763 of GB2312, for timing pages
on which nearly every character is a different one (a novel repeats a few thousand).

    make_distinct.py FILE SIZE_MIB [SEED]
"""
import random
import sys


def main():
    if len(sys.argv) not in (3, 4):
        raise SystemExit(__doc__)
    path, size = sys.argv[1], int(sys.argv[2]) * 1024 * 1024
    rnd = random.Random(int(sys.argv[3]) if len(sys.argv) == 4 else 5)
    hanzi = [bytes([lead, trail]) for lead in range(0xB0, 0xF8) for trail in range(0xA1, 0xFF)
             if not (lead == 0xD7 and trail > 0xF9)]
    out = bytearray()
    while len(out) < size:
        out += b"\xa1\xa1\xa1\xa1"  # two full-width spaces
        for _ in range(rnd.randint(40, 400)):
            out += rnd.choice(hanzi)
            if rnd.random() < 0.08:
                out += b"\xa3\xac"  # full-width comma
        out += b"\xa1\xa3\r\n"  # full stop
    # Whole characters up to the size, then a line break.
    out = out[:size - 2]
    if len(out) % 2:
        out = out[:-1] + b" "
    with open(path, "wb") as f:
        f.write(out + b"\r\n")


if __name__ == "__main__":
    main()
