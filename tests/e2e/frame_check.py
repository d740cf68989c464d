#!/usr/bin/python3
"""Pictures for the end-to-end tests, and the pixel check of a saver frame.

  frame_check.py desktop OUT.png W H        a busy, asymmetric desktop picture
  frame_check.py map OUT.bmp (bottom-up|top-down) W H
                                            an 8-bit map written here, not by the saver's tools
  frame_check.py check DESKTOP.png SHOT.png MAP.bmp
                                            finds the shaded patch in SHOT and checks every
                                            pixel: inside against the shading rule applied to
                                            DESKTOP's 5-5-5 values, outside against DESKTOP
                                            unshaded. Prints the patch place; exit 1 on a
                                            mismatch.
  frame_check.py dark SHOT.png X Y W H      share of black pixels in the rectangle
"""
import struct
import sys

import numpy as np
from PIL import Image


def desktop(out, w, h):
    y, x = np.mgrid[0:h, 0:w]
    r = (x * 255 // max(w - 1, 1)).astype(np.uint8)
    g = (y * 255 // max(h - 1, 1)).astype(np.uint8)
    b = ((x ^ y) * 3 & 255).astype(np.uint8)
    # Blocks of flat colour, so saturation at both ends of the rule shows up.
    r[(x // 64 + y // 64) % 5 == 0] = 250
    g[(x // 48) % 7 == 3] = 5
    Image.fromarray(np.dstack([r, g, b]), "RGB").save(out)


def map_indices_and_palette(w, h):
    y, x = np.mgrid[0:h, 0:w]
    # Asymmetric, so a flipped or transposed map fails the check.
    idx = ((x * 2 + (y * y) // 16) % 256).astype(np.uint8)
    idx[:, :4] = 7
    pal = [(i, (255 - i) if i % 3 else i, (i * 7) % 256) for i in range(256)]  # b, g, r
    return idx, pal


def write_map(out, order, w, h):
    idx, pal = map_indices_and_palette(w, h)
    if order == "bottom-up":
        img = Image.fromarray(idx, "P")
        img.putpalette([c for b, g, r in pal for c in (r, g, b)])
        img.save(out, "BMP")
        return
    # Pillow writes only bottom-up files; a top-down one is a negative height.
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for b, g, r in pal)
    offset = 14 + 40 + len(palette)
    pixels = idx.tobytes()
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, -h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    with open(out, "wb") as f:
        f.write(header + info + palette + pixels)


def gray_map(path):
    img = Image.open(path)
    assert img.mode == "P", img.mode
    pal = np.array(img.getpalette()[:768], dtype=np.int32).reshape(-1, 3)
    pal = np.vstack([pal, np.full((256 - len(pal), 3), 128)])
    gray = pal.sum(axis=1) // 3
    return gray[np.array(img)]


def shade_table():
    t = np.zeros((32, 256), dtype=np.int32)
    for c in range(32):
        for g in range(256):
            if g <= 128:
                t[c, g] = int(c * g / 128 + 0.5)
            else:
                t[c, g] = int(c + (31 - c) * (g - 128) / 127 + 0.5)
    return t


def load_rgb(path):
    return np.array(Image.open(path).convert("RGB"), dtype=np.int32)


def check(desktop_png, shot_png, map_bmp):
    d = load_rgb(desktop_png)
    s = load_rgb(shot_png)
    gray = gray_map(map_bmp)
    h, w, _ = d.shape
    mh, mw = gray.shape
    q = d >> 3  # the snapshot's 5-5-5 channels
    # How the display shows a 5-bit channel: learned from the whole screen (the
    # patch is a small minority), then held to exactly everywhere.
    expand = np.zeros(32, dtype=np.int32)
    for v in range(32):
        seen = s[q == v]
        if seen.size:
            expand[v] = np.bincount(seen).argmax()
    unshaded = expand[q]
    diff = np.any(s != unshaded, axis=2)
    if not diff.any():
        print("no patch on screen")
        return 1
    ys, xs = np.nonzero(diff)
    box = (xs.min(), ys.min(), xs.max() + 1, ys.max() + 1)
    changing = gray != 128
    mys, mxs = np.nonzero(changing)
    mbox = (mxs.min(), mys.min(), mxs.max() + 1, mys.max() + 1)
    table = shade_table()

    def expected_in(px, py, x0, y0, x1, y1):
        """The expected pixels of the screen rectangle with the map placed at (px, py)."""
        exp = unshaded[y0:y1, x0:x1].copy()
        ix0, iy0 = max(px, x0), max(py, y0)
        ix1, iy1 = min(px + mw, x1), min(py + mh, y1)
        if ix0 < ix1 and iy0 < iy1:
            g = gray[iy0 - py:iy1 - py, ix0 - px:ix1 - px]
            exp[iy0 - y0:iy1 - y0, ix0 - x0:ix1 - x0] = expand[table[q[iy0:iy1, ix0:ix1], g[:, :, None]]]
        return exp

    # Every placement that covers all changed pixels; a small sample around
    # the middle of the change sorts them out before the whole screen is held
    # to the best one.
    cx, cy = (box[0] + box[2]) // 2, (box[1] + box[3]) // 2
    sample = (max(cx - 16, 0), max(cy - 16, 0), min(cx + 16, w), min(cy + 16, h))
    scored = []
    for py in range(box[3] - mh, box[1] + 1):
        for px in range(box[2] - mw, box[0] + 1):
            exp = expected_in(px, py, *sample)
            bad = int(np.any(exp != s[sample[1]:sample[3], sample[0]:sample[2]], axis=2).sum())
            scored.append((bad, px, py))
    scored.sort()
    best = None
    for _, px, py in scored[:64]:
        mismatch = np.any(expected_in(px, py, 0, 0, w, h) != s, axis=2)
        if best is None or mismatch.sum() < best[0]:
            best = (int(mismatch.sum()), px, py, mismatch)
        if best[0] == 0:
            break
    if best[0]:
        ys, xs = np.nonzero(best[3])
        print(f"mismatched pixels within {xs.min()},{ys.min()} - {xs.max() + 1},{ys.max() + 1}")
    bad, px, py, _ = best
    clipped = px < 0 or py < 0 or px + mw > w or py + mh > h
    print(f"patch at {px},{py} size {mw}x{mh} clipped={int(clipped)} mismatches={bad}")
    return 0 if bad == 0 else 1


def dark(shot_png, x, y, w, h):
    s = np.array(Image.open(shot_png).convert("RGB").crop((x, y, x + w, y + h)), dtype=np.int32)
    print(f"{float(np.all(s == 0, axis=2).mean()):.3f}")
    return 0


def main(argv):
    cmd = argv[1]
    if cmd == "desktop":
        desktop(argv[2], int(argv[3]), int(argv[4]))
        return 0
    if cmd == "map":
        write_map(argv[2], argv[3], int(argv[4]), int(argv[5]))
        return 0
    if cmd == "check":
        return check(argv[2], argv[3], argv[4])
    if cmd == "dark":
        return dark(argv[2], *map(int, argv[3:7]))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
