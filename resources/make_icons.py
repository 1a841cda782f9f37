#!/usr/bin/env python3
"""Draws the program's icons and writes them as .ico files (32-bit BGRA).

    python3 resources/make_icons.py [output folder]

The .ico files next to this script are its output, checked in so that a
build needs no Python; run it again after changing a drawing.
"""
import os
import struct
import sys

SAMPLES = 4  # supersampling per axis, for smooth edges


def rounded_rect(x, y, left, top, right, bottom, radius):
    """Whether point (x, y) lies inside the rounded rectangle."""
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def circle(x, y, cx, cy, r):
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def render(size, shader):
    """Pixels (rows top to bottom) of RGBA tuples; shader(u, v) on 0..1 gives RGBA or None."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    u = (px + (sx + 0.5) / SAMPLES) / size
                    v = (py + (sy + 0.5) / SAMPLES) / size
                    c = shader(u, v)
                    if c is None:
                        continue
                    a = c[3] / 255.0
                    acc[0] += c[0] * a
                    acc[1] += c[1] * a
                    acc[2] += c[2] * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha <= 0:
                row.append((0, 0, 0, 0))
            else:
                row.append(tuple(int(round(acc[i] / acc[3])) for i in range(3)) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def program_shader(u, v):
    # A dark blue tile holding a light key cap with a red lamp: a key that drives the switcher.
    if not rounded_rect(u, v, 0.03, 0.03, 0.97, 0.97, 0.18):
        return None
    if rounded_rect(u, v, 0.20, 0.22, 0.80, 0.84, 0.10):
        if circle(u, v, 0.50, 0.50, 0.15):
            return (224, 36, 27, 255)
        if v > 0.72:
            return (170, 182, 196, 255)  # front edge of the key cap
        return (236, 241, 247, 255)
    return (31, 58, 95, 255)


def square(size, fill, rim):
    """A filled square with a darker rim, inset from the edges, on pixel
    boundaries (no soft edges: it must stay a crisp square at every size)."""
    inset = max(1, size // 16)
    rim_width = max(1, size // 16)
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            d = min(px - inset, py - inset, size - 1 - inset - px, size - 1 - inset - py)
            if d < 0:
                row.append((0, 0, 0, 0))
            elif d < rim_width:
                row.append(rim + (255,))
            else:
                row.append(fill + (255,))
        rows.append(row)
    return rows


# The tray icon in the small-icon sizes of 100, 125, 150 and 200 % scaling.
TRAY_SIZES = (32, 24, 20, 16)


def dib(pixels):
    """BITMAPINFOHEADER + bottom-up BGRA rows + AND mask, as an icon image."""
    size = len(pixels)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4, 0, 0, 0, 0)
    xor = bytearray()
    for row in reversed(pixels):
        for r, g, b, a in row:
            xor += bytes((b, g, r, a))
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + bytes(xor) + bytes(mask)


def ico(images):
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    blobs = []
    for pixels in images:
        size = len(pixels)
        blob = dib(pixels)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
        blobs.append(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "icons")
    os.makedirs(folder, exist_ok=True)
    files = {
        "KAV90R_HotKeyController.ico": [render(s, program_shader) for s in (48, 32, 16)],
        # Hot-key control on: a red square; off: the same square in grey.
        "TrayOn.ico": [square(s, (224, 36, 27), (150, 20, 14)) for s in TRAY_SIZES],
        "TrayOff.ico": [square(s, (150, 150, 150), (96, 96, 96)) for s in TRAY_SIZES],
    }
    for name, images in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(ico(images))


if __name__ == "__main__":
    main()
