#!/usr/bin/env python3
"""Draws the project's icons and writes them as classic ICO files.

Each icon holds three images, in this order: 32x32 in 16 colours (4 bpp),
32x32 in 256 colours (8 bpp) and 16x16 in 16 colours (4 bpp), each a
BITMAPINFOHEADER bitmap followed by its XOR and AND masks.

  make_icon.py installer OUT.ico   the installer: a box with an arrow
  make_icon.py zorvik OUT.ico      the application: a note with a "Z"

The output depends only on this script, so running it again gives the same
bytes.
"""
import struct
import sys
from dataclasses import dataclass
from typing import Callable, List, Optional, Tuple

RGB = Tuple[int, int, int]

# The classic 16-colour palette; 4 bpp images use it as it is.
VGA16: List[RGB] = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]


def palette256() -> List[RGB]:
    """The 16 classic colours, the designs' own colours, a 6x6x6 colour cube
    and a grey ramp filling the rest."""
    pal = list(VGA16)
    for _, rich in MATERIALS.values():
        if rich not in pal:
            pal.append(rich)
    levels = [0, 51, 102, 153, 204, 255]
    pal += [(r, g, b) for r in levels for g in levels for b in levels]
    step = 0
    while len(pal) < 256:
        step += 1
        pal.append((8 * step, 8 * step, 8 * step))
    assert len(pal) == 256
    return pal


def nearest(pal: List[RGB], c: RGB) -> int:
    return min(range(len(pal)),
               key=lambda i: sum((a - b) ** 2 for a, b in zip(pal[i], c)))


# A design maps a point (u, v) in the unit square to a material and a depth;
# None means transparent. Materials become colours per colour depth.
Sample = Optional[Tuple[str, int]]


def inside_poly(u: float, v: float, pts: List[Tuple[float, float]]) -> bool:
    hit = False
    j = len(pts) - 1
    for i, (xi, yi) in enumerate(pts):
        xj, yj = pts[j]
        if (yi > v) != (yj > v) and u < (xj - xi) * (v - yi) / (yj - yi) + xi:
            hit = not hit
        j = i
    return hit


def installer_design(u: float, v: float) -> Sample:
    """An open cardboard box with a blue arrow pointing into it."""
    arrow = [(0.36, 0.02), (0.56, 0.02), (0.56, 0.36), (0.72, 0.36),
             (0.46, 0.64), (0.20, 0.36), (0.36, 0.36)]
    if inside_poly(u, v, arrow):
        return ("arrow_light" if u < 0.46 else "arrow", 3)
    front = [(0.06, 0.46), (0.66, 0.46), (0.66, 0.96), (0.06, 0.96)]
    side = [(0.66, 0.46), (0.94, 0.32), (0.94, 0.80), (0.66, 0.96)]
    opening = [(0.06, 0.46), (0.34, 0.32), (0.94, 0.32), (0.66, 0.46)]
    flap_left = [(0.06, 0.46), (0.00, 0.30), (0.26, 0.18), (0.34, 0.32)]
    flap_right = [(0.94, 0.32), (0.99, 0.16), (0.76, 0.08), (0.66, 0.20),
                  (0.70, 0.32)]
    if inside_poly(u, v, front):
        if 0.62 <= v <= 0.72:
            return ("tape", 1)
        return ("box_front", 1)
    if inside_poly(u, v, side):
        return ("box_side", 1)
    if inside_poly(u, v, opening):
        return ("box_inside", 1)
    if inside_poly(u, v, flap_left) or inside_poly(u, v, flap_right):
        return ("flap", 1)
    return None


def zorvik_design(u: float, v: float) -> Sample:
    """A note sheet with a folded corner and a bold blue "Z"."""
    sheet = [(0.12, 0.03), (0.70, 0.03), (0.90, 0.23), (0.90, 0.97),
             (0.12, 0.97)]
    fold = [(0.70, 0.03), (0.70, 0.23), (0.90, 0.23)]
    z = [(0.22, 0.20), (0.80, 0.20), (0.80, 0.36), (0.46, 0.72),
         (0.80, 0.72), (0.80, 0.88), (0.22, 0.88), (0.22, 0.72),
         (0.56, 0.36), (0.22, 0.36)]
    if inside_poly(u, v, z):
        return ("arrow_light" if v < 0.55 else "arrow", 3)
    if inside_poly(u, v, fold):
        return ("fold", 2)
    if inside_poly(u, v, sheet):
        return ("rule" if int(v * 10) % 2 == 0 and v > 0.15 else "paper", 1)
    return None


# Each design with the materials that keep their inner outline at 16x16.
DESIGNS: dict = {
    "installer": (installer_design, ("arrow",)),
    "zorvik": (zorvik_design, ()),
}

# Material colours: 16-colour choice, then the richer 256-colour one.
MATERIALS = {
    "outline": ((0, 0, 0), (40, 30, 20)),
    "arrow": ((0, 0, 255), (20, 70, 200)),
    "arrow_light": ((0, 255, 255), (60, 140, 240)),
    "box_front": ((255, 255, 0), (222, 184, 110)),
    "box_side": ((128, 128, 0), (170, 130, 70)),
    "box_inside": ((128, 0, 0), (100, 66, 36)),
    "flap": ((192, 192, 192), (240, 212, 150)),
    "tape": ((128, 128, 0), (196, 150, 80)),
    "paper": ((255, 255, 255), (255, 252, 220)),
    "rule": ((255, 255, 255), (230, 236, 250)),
    "fold": ((192, 192, 192), (200, 200, 190)),
}


@dataclass
class Image:
    size: int
    bpp: int
    palette: List[RGB]
    pixels: List[List[int]]      # palette indices, top row first
    opaque: List[List[bool]]


def render(design: Callable[[float, float], Sample], small_outlined: Tuple[str, ...],
           size: int, bpp: int) -> Image:
    pal = VGA16 if bpp == 4 else palette256()
    rich = 1 if bpp == 8 else 0
    grid = [[design((x + 0.5) / size, (y + 0.5) / size) for x in range(size)]
            for y in range(size)]

    def depth(x: int, y: int) -> int:
        if 0 <= x < size and 0 <= y < size and grid[y][x]:
            return grid[y][x][1]
        return 0

    pixels = [[0] * size for _ in range(size)]
    opaque = [[False] * size for _ in range(size)]
    cache: dict = {}
    for y in range(size):
        for x in range(size):
            s = grid[y][x]
            if not s:
                continue
            material, d = s
            # A pixel that borders anything lying deeper is drawn as outline.
            # At 16x16 only the silhouette and the arrow get one, and the
            # arrow is drawn in one colour, or the small shapes blur.
            neighbours = ((x - 1, y), (x + 1, y), (x, y - 1), (x, y + 1))
            limit = d
            if size < 32:
                if material == "arrow_light":
                    material = "arrow"
                if material not in small_outlined:
                    limit = 1
            if any(depth(nx, ny) < limit for nx, ny in neighbours):
                material = "outline"
            colour = MATERIALS[material][rich]
            if colour not in cache:
                cache[colour] = nearest(pal, colour)
            pixels[y][x] = cache[colour]
            opaque[y][x] = True
    return Image(size, bpp, pal, pixels, opaque)


def row_bytes(bits: int) -> int:
    return (bits + 31) // 32 * 4


def pack_row(values: List[int], bpp: int) -> bytes:
    out = bytearray(row_bytes(len(values) * bpp))
    per_byte = 8 // bpp
    for i, val in enumerate(values):
        shift = 8 - bpp * (i % per_byte + 1)
        out[i // per_byte] |= val << shift
    return bytes(out)


def encode(img: Image) -> bytes:
    n = img.size
    xor = b"".join(pack_row(img.pixels[y], img.bpp) for y in reversed(range(n)))
    mask = b"".join(pack_row([0 if o else 1 for o in img.opaque[y]], 1)
                    for y in reversed(range(n)))
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, img.bpp, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colours = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in img.palette)
    return header + colours + xor + mask


def build_icon(design: Callable[[float, float], Sample],
               small_outlined: Tuple[str, ...]) -> bytes:
    images = [render(design, small_outlined, size, bpp)
              for size, bpp in ((32, 4), (32, 8), (16, 4))]
    blobs = [encode(img) for img in images]
    out = bytearray(struct.pack("<HHH", 0, 1, len(blobs)))
    offset = 6 + 16 * len(blobs)
    for img, blob in zip(images, blobs):
        colour_count = 16 if img.bpp == 4 else 0
        out += struct.pack("<BBBBHHII", img.size, img.size, colour_count, 0, 1,
                           img.bpp, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def main(argv: List[str]) -> int:
    if len(argv) != 3 or argv[1] not in DESIGNS:
        print(f"usage: {argv[0]} {{{'|'.join(DESIGNS)}}} OUT.ico", file=sys.stderr)
        return 2
    data = build_icon(*DESIGNS[argv[1]])
    try:
        with open(argv[2], "wb") as f:
            f.write(data)
    except OSError as e:
        print(f"make_icon: cannot write {argv[2]}: {e.strerror}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
