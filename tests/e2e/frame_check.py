#!/usr/bin/python3
"""Pictures for the end-to-end tests, and the pixel check of a saver frame.

  frame_check.py desktop OUT.png W H        a busy, asymmetric desktop picture
  frame_check.py map OUT.bmp (bottom-up|top-down) W H
                                            an 8-bit map written here, not by the saver's tools
  frame_check.py check DESKTOP SHOT MAP.bmp
                                            finds the shaded patch in SHOT and checks every
                                            pixel: inside against the shading rule applied to
                                            DESKTOP's 5-5-5 values, shown as the display shows
                                            a 5-bit channel; outside against DESKTOP exactly.
                                            Prints the patch place; exit 1 on a mismatch.
                                            DESKTOP and SHOT are PNGs of a 24-bit screen, or
                                            xwd dumps of a screen of any depth (read as the
                                            X server holds the pixels).
  frame_check.py looks DESKTOP MAP.bmp SHOT...
                                            each SHOT either the desktop exactly or the desktop
                                            with one patch that passes check; a line a look and
                                            a closing count ("looks=N unchanged=N patch=N
                                            wrong=N"); exit 1 on any wrong look
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


def read_xwd(path):
    """The screen's own channel values (H x W x 3, red first) and their bit widths."""
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    masks, ncolors = fields[14:17], fields[19]
    start = header_size + 12 * ncolors
    kind = {16: "u2", 32: "u4"}[bits_per_pixel]
    rows = np.frombuffer(data, dtype=(">" if byte_order else "<") + kind, count=height * bytes_per_line // (
        bits_per_pixel // 8), offset=start).reshape(height, -1)[:, :width].astype(np.int64)
    channels, bits = [], []
    for mask in masks:
        shift = (mask & -mask).bit_length() - 1
        channels.append((rows & mask) >> shift)
        bits.append(bin(mask).count("1"))
    return np.dstack(channels).astype(np.int32), np.array(bits, dtype=np.int32)


def load_screen(path):
    if path.endswith(".xwd"):
        return read_xwd(path)
    return load_rgb(path), np.array([8, 8, 8], dtype=np.int32)


def check(desktop_path, shot_path, map_bmp):
    d, bits = load_screen(desktop_path)
    verdict = check_screen(d, bits, shot_path, gray_map(map_bmp))
    print(verdict)
    return 0 if verdict.endswith("mismatches=0") else 1


def looks(desktop_path, map_bmp, shots):
    d, bits = load_screen(desktop_path)
    gray = gray_map(map_bmp)
    count = {"unchanged": 0, "patch": 0, "wrong": 0}
    for shot in shots:
        verdict = check_screen(d, bits, shot, gray)
        kind = "unchanged" if verdict == "no patch on screen" else "patch" if verdict.endswith(
            "mismatches=0") else "wrong"
        count[kind] += 1
        print(f"{shot}: {verdict}")
    print(f"looks={len(shots)} unchanged={count['unchanged']} patch={count['patch']} wrong={count['wrong']}")
    return 1 if count["wrong"] else 0


def check_screen(d, bits, shot_path, gray):
    """The verdict on one look: "no patch on screen", a placement with its mismatches, or what is wrong."""
    s, shot_bits = load_screen(shot_path)
    if s.shape != d.shape or (bits != shot_bits).any():
        return f"another screen: {s.shape} at {shot_bits} bits, not {d.shape} at {bits}"
    h, w, _ = d.shape
    mh, mw = gray.shape
    q = d >> (bits - 5)  # the snapshot's 5-5-5 channels
    unshaded = d  # outside the patch the screen is exactly as it was

    def expand(v):
        """A 5-bit channel as the display shows it: its bits repeated to the display's width."""
        return (v << (bits - 5)) | (v >> (10 - bits))

    diff = np.any(s != unshaded, axis=2)
    if not diff.any():
        return "no patch on screen"
    ys, xs = np.nonzero(diff)
    box = (xs.min(), ys.min(), xs.max() + 1, ys.max() + 1)
    if box[2] - box[0] > mw or box[3] - box[1] > mh:
        return (f"{int(diff.sum())} pixels changed within {box[0]},{box[1]} - {box[2]},{box[3]}, "
                f"more than one {mw}x{mh} patch covers")
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
            exp[iy0 - y0:iy1 - y0, ix0 - x0:ix1 - x0] = expand(table[q[iy0:iy1, ix0:ix1], g[:, :, None]])
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
    bad, px, py, mismatch = best
    where = ""
    if bad:
        ys, xs = np.nonzero(mismatch)
        where = f"mismatched pixels within {xs.min()},{ys.min()} - {xs.max() + 1},{ys.max() + 1}; "
    clipped = px < 0 or py < 0 or px + mw > w or py + mh > h
    return f"{where}patch at {px},{py} size {mw}x{mh} clipped={int(clipped)} mismatches={bad}"


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
    if cmd == "looks":
        return looks(argv[2], argv[3], argv[4:])
    if cmd == "dark":
        return dark(argv[2], *map(int, argv[3:7]))
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
