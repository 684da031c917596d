#!/usr/bin/env python3
"""Writes VYK_UU.ico: 16 x 16, 16 colours (4 bits per pixel), one image.
Run once after changing the picture below; the .ico is checked in."""
import struct, sys

# The standard 16-colour palette, each entry (blue, green, red).
PALETTE = [(0,0,0),(0,0,128),(0,128,0),(0,128,128),(128,0,0),(128,0,128),(128,128,0),(192,192,192),
           (128,128,128),(0,0,255),(0,255,0),(0,255,255),(255,0,0),(255,0,255),(255,255,0),(255,255,255)]
# '.' transparent; otherwise a hex palette index: 4 navy, F white, 8 grey,
# 0 black, B yellow (a lightning bolt on a chip).
PICTURE = [
    "................",
    ".44444444444444.",
    "4444444444444444",
    "444FFFFFFFFFF444",
    "44F8888888888F44",
    "44F80000000008F4",
    "44F8000BB00008F4",
    "44F800BB000008F4",
    "44F80BBBBBB008F4",
    "44F8000BB00008F4",
    "44F800BB000008F4",
    "44F80000000008F4",
    "44F8888888888F44",
    "444FFFFFFFFFF444",
    "4444444444444444",
    ".44444444444444.",
]

def main(path):
    xor = b""
    andmask = b""
    for row in reversed(PICTURE):  # bottom-up
        px = [0 if c == "." else int(c, 16) for c in row]
        xor += bytes((px[i] << 4) | px[i + 1] for i in range(0, 16, 2))
        bits = 0
        for i, c in enumerate(row):
            if c == ".":
                bits |= 1 << (15 - i)
        andmask += struct.pack(">H", bits) + b"\0\0"
    palette = b"".join(bytes((b, g, r, 0)) for (b, g, r) in PALETTE)
    header = struct.pack("<IiiHHIIiiII", 40, 16, 32, 1, 4, 0, len(xor) + len(andmask), 0, 0, 16, 0)
    image = header + palette + xor + andmask
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 16, 16, 16, 0, 1, 4, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(icondir + entry + image)

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "VYK_UU.ico")
