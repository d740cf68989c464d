#!/usr/bin/python3
"""Pictures for the end-to-end tests, and the pixel check of a saver frame.

  frame_check.py desktop OUT.png W H [sky]  a busy, asymmetric desktop picture (sky: a smooth
                                            gradient, on which any step or band shows)
  frame_check.py map OUT.bmp (bottom-up|top-down) W H
                                            an 8-bit map written here, not by the saver's tools
  frame_check.py conversion PROBE.txt RAMP.xwd OUT.json
                                            how this display's pixels become 8-bit channels in a
                                            32-bit capture, and back: from winprobe's "channels"
                                            line and an xwd dump taken while its ramp showed
  frame_check.py check DESKTOP SHOT MAP.bmp [--conversion OUT.json]
                                            finds the shaded patch in SHOT and checks every
                                            pixel: inside against the 8-bit shading rule applied
                                            to DESKTOP's pixels as a 32-bit capture reads them,
                                            then as the display shows the result; outside
                                            against DESKTOP exactly. Prints the patch place;
                                            exit 1 on a mismatch. DESKTOP and SHOT are PNGs of
                                            a 24-bit screen, or xwd dumps of a screen of any
                                            depth (read as the X server holds the pixels); a
                                            display without 8-bit channels needs the conversion.
  frame_check.py looks DESKTOP MAP.bmp [--conversion OUT.json] SHOT...
                                            each SHOT either the desktop exactly or the desktop
                                            with one patch that passes check; a line a look and
                                            a closing count ("looks=N unchanged=N patch=N
                                            wrong=N"); exit 1 on any wrong look
  frame_check.py serve DESKTOP MAP.bmp [--conversion OUT.json]
                                            check's verdict for each SHOT named on a line of
                                            stdin, a line each, until stdin ends
  frame_check.py lens DESKTOP MAP.bmp [--conversion OUT.json] SHOT...
                                            what a user sees of the lens, whatever drew it: the
                                            gray-128 pixels that differ from the desktop and by
                                            how much, the distinct red levels where the map is
                                            above 128 (and what the 8-bit rule gives there), and
                                            the error against the rule computed without rounding
  frame_check.py dark SHOT X Y W H [X Y W H...]
                                            share of black pixels in each rectangle, a line each
"""
import json
import struct
import sys

import numpy as np
from PIL import Image


def desktop(out, w, h, kind="busy"):
    y, x = np.mgrid[0:h, 0:w]
    if kind == "sky":
        # Deep blue at the top to a pale haze at the horizon, a little warmer
        # to the right: every channel moves by less than one level a pixel.
        r = 40 + 150 * y / max(h - 1, 1) + 25 * x / max(w - 1, 1)
        g = 90 + 120 * y / max(h - 1, 1) + 10 * x / max(w - 1, 1)
        b = 190 + 55 * y / max(h - 1, 1)
        sky = np.dstack([r, g, b]).round().astype(np.uint8)
        Image.fromarray(sky, "RGB").save(out)
        return
    r = (x * 255 // max(w - 1, 1)).astype(np.uint8)
    g = (y * 255 // max(h - 1, 1)).astype(np.uint8)
    b = ((x ^ y) * 3 & 255).astype(np.uint8)
    # Blocks of flat colour, so saturation at both ends of the rule shows up.
    r[(x // 64 + y // 64) % 5 == 0] = 250
    g[(x // 48) % 7 == 3] = 5
    Image.fromarray(np.dstack([r, g, b]), "RGB").save(out)


def map_indices_and_palette(w, h):
    # Asymmetric, so a flipped or transposed map fails the check. Summed as
    # bytes, which wrap at 256, so a map of 8192 x 4096 needs no more memory
    # than its own pixels.
    x, y = np.arange(w, dtype=np.int64), np.arange(h, dtype=np.int64)
    idx = np.add.outer(((y * y) // 16 % 256).astype(np.uint8), (x * 2 % 256).astype(np.uint8))
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
    if img.mode == "L":  # a palette of grays only, which Pillow reads as the grays themselves
        return np.array(img, dtype=np.int32)
    assert img.mode == "P", img.mode
    pal = np.array(img.getpalette()[:768], dtype=np.int32).reshape(-1, 3)
    pal = np.vstack([pal, np.full((256 - len(pal), 3), 128)])
    gray = pal.sum(axis=1) // 3
    return gray[np.array(img)]


def channel_table():
    """The 8-bit rule, t[g, c], in doubles: below 128 scaled by g/128, above moved
    (g - 128)/127 of the way to 255, both rounded to nearest."""
    return (exact_rule(np.arange(256)[None, :], np.arange(256)[:, None]) + 0.5).astype(np.int32)


def exact_rule(c, g):
    """The rule without rounding, for channel values c under grays g."""
    c = np.asarray(c, dtype=np.float64)
    return np.where(g <= 128, c * g / 128.0, c + (255 - c) * (g - 128) / 127.0)


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
    # A 24-bit depth is dumped with 4 bytes a pixel, though the header may say
    # 24 bits a pixel (as it does while some Wine windows are up): the row
    # length tells.
    size = bytes_per_line // width if bytes_per_line // width in (2, 4) else 0
    if size == 0 or bits_per_pixel > 8 * size:
        raise SystemExit(f"{path}: {bits_per_pixel} bits a pixel in rows of {bytes_per_line} bytes")
    kind = {2: "u2", 4: "u4"}[size]
    rows = np.frombuffer(data, dtype=(">" if byte_order else "<") + kind, count=height * bytes_per_line // size,
                         offset=start).reshape(height, -1)[:, :width].astype(np.uint32)
    # Filled in place, a channel at a time, a byte each (a channel is 8 bits
    # at most at every depth the tests use): a screen's worth of wide
    # temporaries costs more than the whole check.
    channels = np.empty((height, width, 3), dtype=np.uint8)
    bits = []
    for i, mask in enumerate(masks):
        shift = (mask & -mask).bit_length() - 1
        channels[:, :, i] = (rows & np.uint32(mask)) >> np.uint32(shift)
        bits.append(bin(mask).count("1"))
    return channels, np.array(bits, dtype=np.int32)


def load_screen(path):
    if path.endswith(".xwd"):
        return read_xwd(path)
    return load_rgb(path), np.array([8, 8, 8], dtype=np.int32)


def conversion(probe_txt, ramp_xwd, out):
    """widen[ch][v]: the 8-bit value a 32-bit capture reads for the display's
    value v; narrow[ch][c]: the display's value for 8-bit c drawn to it."""
    with open(probe_txt) as f:
        line = next(l for l in f if l.startswith("widened "))
    seen = np.array([int(v, 16) for v in line.split()[1:]], dtype=np.int64)
    assert len(seen) == 256, len(seen)
    raw, bits = read_xwd(ramp_xwd)
    widen, narrow = [], []
    for ch, shift in enumerate((16, 8, 0)):
        shown = raw[0, :256, ch]
        read = (seen >> shift) & 255
        table = np.full(1 << int(bits[ch]), -1, dtype=np.int64)
        for value, back in zip(shown, read):
            if table[value] not in (-1, back):
                print(f"channel {ch}: display value {value} read back as {table[value]} and {back}")
                return 1
            table[value] = back
        if (table < 0).any():
            print(f"channel {ch}: display values {np.nonzero(table < 0)[0].tolist()} never shown by the ramp")
            return 1
        widen.append(table.tolist())
        narrow.append(shown.tolist())
    with open(out, "w") as f:
        json.dump({"bits": bits.tolist(), "widen": widen, "narrow": narrow}, f)
    print(f"bits={bits.tolist()} identity={int(all(w == list(range(256)) for w in widen))}")
    return 0


def load_conversion(path, bits):
    """(widen, narrow) as arrays indexed [channel, value]; without a file, the
    8-bit channels of a true-colour display, taken as they are."""
    if path is None:
        if (bits != 8).any():
            raise SystemExit(f"a screen with {bits.tolist()}-bit channels needs --conversion")
        same = np.tile(np.arange(256), (3, 1))
        return same, same
    with open(path) as f:
        conv = json.load(f)
    if conv["bits"] != bits.tolist():
        raise SystemExit(f"the conversion is for {conv['bits']}-bit channels, the screen has {bits.tolist()}")
    return [np.array(w) for w in conv["widen"]], np.array(conv["narrow"])


def per_channel(table, values):
    """table[ch][values[..., ch]] for each channel."""
    return np.dstack([table[ch][values[..., ch]] for ch in range(3)])


def conversion_option(args):
    """Takes "--conversion FILE" out of args; the file or None."""
    if "--conversion" not in args:
        return None
    at = args.index("--conversion")
    path = args[at + 1]
    del args[at:at + 2]
    return path


def check(desktop_path, shot_path, map_bmp, conv_path):
    d, bits = load_screen(desktop_path)
    verdict = check_screen(d, bits, shot_path, gray_map(map_bmp), load_conversion(conv_path, bits))
    print(verdict)
    return 0 if verdict.endswith("mismatches=0") else 1


def looks(desktop_path, map_bmp, shots, conv_path):
    d, bits = load_screen(desktop_path)
    gray = gray_map(map_bmp)
    conv = load_conversion(conv_path, bits)
    count = {"unchanged": 0, "patch": 0, "wrong": 0}
    for shot in shots:
        verdict = check_screen(d, bits, shot, gray, conv)
        kind = "unchanged" if verdict == "no patch on screen" else "patch" if verdict.endswith(
            "mismatches=0") else "wrong"
        count[kind] += 1
        print(f"{shot}: {verdict}")
    print(f"looks={len(shots)} unchanged={count['unchanged']} patch={count['patch']} wrong={count['wrong']}")
    return 1 if count["wrong"] else 0


def serve(desktop_path, map_bmp, conv_path):
    """check for each look named on stdin, a verdict line each: the desktop
    and the map are read, and Python started, once for all of a test's looks."""
    d, bits = load_screen(desktop_path)
    gray = gray_map(map_bmp)
    conv = load_conversion(conv_path, bits)
    for line in sys.stdin:
        try:
            verdict = check_screen(d, bits, line.rstrip("\n"), gray, conv)
        except (Exception, SystemExit) as e:  # a look cut short says nothing; the next one may
            verdict = f"unreadable look: {e}"
        print(verdict, flush=True)
    return 0


def check_screen(d, bits, shot_path, gray, conv):
    """The verdict on one look: "no patch on screen", a placement with its mismatches, or what is wrong."""
    s, shot_bits = load_screen(shot_path)
    if s.shape != d.shape or (bits != shot_bits).any():
        return f"another screen: {s.shape} at {shot_bits} bits, not {d.shape} at {bits}"
    h, w, _ = d.shape
    mh, mw = gray.shape
    widen, narrow = conv
    unshaded = d  # outside the patch the screen is exactly as it was

    def captured(x0, y0, x1, y1):
        """The desktop as the saver's 32-bit copy holds it, in a rectangle: only
        where a placement is tried, not over the whole screen."""
        return per_channel(widen, d[y0:y1, x0:x1])

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
    table = channel_table()

    def expected_in(px, py, x0, y0, x1, y1):
        """The expected pixels of the screen rectangle with the map placed at (px, py)."""
        exp = unshaded[y0:y1, x0:x1].copy()
        ix0, iy0 = max(px, x0), max(py, y0)
        ix1, iy1 = min(px + mw, x1), min(py + mh, y1)
        if ix0 < ix1 and iy0 < iy1:
            g = gray[iy0 - py:iy1 - py, ix0 - px:ix1 - px]
            exp[iy0 - y0:iy1 - y0, ix0 - x0:ix1 - x0] = per_channel(
                narrow, table[g[:, :, None], captured(ix0, iy0, ix1, iy1)])
        return exp

    # Every placement that covers all changed pixels, narrowed in steps: an
    # 8 x 8 sample around the middle of the change scores them all, a whole
    # row of placements at a time (a map larger than the screen has tens of
    # thousands), a 32 x 32 sample the best of those, and the few best are
    # held to the whole screen.
    cx, cy = (box[0] + box[2]) // 2, (box[1] + box[3]) // 2

    def around(r):
        return max(cx - r, 0), max(cy - r, 0), min(cx + r, w), min(cy + r, h)

    sx0, sy0, sx1, sy1 = around(4)
    shot_s, unshaded_s = s[sy0:sy1, sx0:sx1], unshaded[sy0:sy1, sx0:sx1]
    captured_s = captured(sx0, sy0, sx1, sy1)
    pxs = np.arange(box[2] - mw, box[0] + 1)
    gx = np.arange(sx0, sx1)[None, :] - pxs[:, None]  # placement, sample column
    in_x = (gx >= 0) & (gx < mw)
    scored = []
    for py in range(box[3] - mh, box[1] + 1):
        gy = np.arange(sy0, sy1) - py
        in_y = (gy >= 0) & (gy < mh)
        g = gray[np.clip(gy, 0, mh - 1)[None, :, None], np.clip(gx, 0, mw - 1)[:, None, :]]
        shaded = np.stack([narrow[ch][table[g, captured_s[None, :, :, ch]]] for ch in range(3)], axis=-1)
        inside = (in_y[None, :, None] & in_x[:, None, :])[..., None]
        exp = np.where(inside, shaded, unshaded_s[None])
        bad = np.any(exp != shot_s[None], axis=3).sum(axis=(1, 2))
        scored.extend(zip(bad.tolist(), pxs.tolist(), [py] * len(pxs)))
    scored.sort()
    sample = around(16)
    scored = sorted((int(np.any(expected_in(px, py, *sample) != s[sample[1]:sample[3], sample[0]:sample[2]],
                                axis=2).sum()), px, py) for _, px, py in scored[:256])

    # Outside the map's place the screen must be the desktop: there the
    # mismatches are the changed pixels, so only the place itself is compared.
    changed = int(diff.sum())

    def mismatches(px, py):
        x0, y0, x1, y1 = max(px, 0), max(py, 0), min(px + mw, w), min(py + mh, h)
        inside = np.any(expected_in(px, py, x0, y0, x1, y1) != s[y0:y1, x0:x1], axis=2)
        return int(inside.sum()) + changed - int(diff[y0:y1, x0:x1].sum())

    best = None
    for _, px, py in scored[:8]:
        bad = mismatches(px, py)
        if best is None or bad < best[0]:
            best = (bad, px, py)
        if best[0] == 0:
            break
    bad, px, py = best
    where = ""
    if bad:
        ys, xs = np.nonzero(np.any(expected_in(px, py, 0, 0, w, h) != s, axis=2))
        where = f"mismatched pixels within {xs.min()},{ys.min()} - {xs.max() + 1},{ys.max() + 1}; "
    clipped = px < 0 or py < 0 or px + mw > w or py + mh > h
    return f"{where}patch at {px},{py} size {mw}x{mh} clipped={int(clipped)} mismatches={bad}"


def find_lens(d8, s8, gray):
    """The map's place in a look, whatever rule drew it: of the placements that
    cover every changed pixel, the one closest to the rule without rounding."""
    h, w, _ = d8.shape
    mh, mw = gray.shape
    ys, xs = np.nonzero(np.any(s8 != d8, axis=2))
    if len(xs) == 0:
        return None
    x0, y0, x1, y1 = xs.min(), ys.min(), xs.max() + 1, ys.max() + 1
    best = None
    for py in range(max(y1 - mh, 1 - mh), min(y0, h - 1) + 1):
        for px in range(max(x1 - mw, 1 - mw), min(x0, w - 1) + 1):
            ix0, iy0, ix1, iy1 = max(px, 0), max(py, 0), min(px + mw, w), min(py + mh, h)
            g = gray[iy0 - py:iy1 - py, ix0 - px:ix1 - px][:, :, None]
            err = np.abs(s8[iy0:iy1, ix0:ix1] - exact_rule(d8[iy0:iy1, ix0:ix1], g)).mean()
            if best is None or err < best[0]:
                best = (err, px, py)
    return best[1], best[2]


def lens(desktop_path, map_bmp, shots, conv_path):
    d, bits = load_screen(desktop_path)
    gray = gray_map(map_bmp)
    widen, narrow = load_conversion(conv_path, bits)
    d8 = per_channel(widen, d)
    h, w, _ = d.shape
    mh, mw = gray.shape
    rule = channel_table()
    for shot in shots:
        s, _ = load_screen(shot)
        s8 = per_channel(widen, s)
        place = find_lens(d8, s8, gray)
        if place is None:
            print(f"{shot}: no lens on screen")
            continue
        px, py = place
        ix0, iy0, ix1, iy1 = max(px, 0), max(py, 0), min(px + mw, w), min(py + mh, h)
        g = gray[iy0 - py:iy1 - py, ix0 - px:ix1 - px]
        ds, ss = d[iy0:iy1, ix0:ix1], s[iy0:iy1, ix0:ix1]
        d8s, s8s = d8[iy0:iy1, ix0:ix1], s8[iy0:iy1, ix0:ix1]
        flat = g == 128
        differ = np.any(ss != ds, axis=2) & flat
        seam = int(np.abs(s8s - d8s)[flat].max()) if flat.any() else 0
        lit = g > 128
        red_seen = len(np.unique(s8s[..., 0][lit]))
        red_rule = len(np.unique(narrow[0][rule[g, d8s[..., 0]]][lit]))
        err = np.abs(s8s - exact_rule(d8s, g[:, :, None]))
        print(f"{shot}: lens at {px},{py}; gray-128 pixels differing {int(differ.sum())} of {int(flat.sum())}"
              f" (by up to {seam} levels); red levels where gray > 128: {red_seen} (the 8-bit rule: {red_rule});"
              f" error against the rule unrounded: max {err.max():.1f}, mean {err.mean():.2f}")
    return 0


def dark(shot_path, rects):
    black = np.all(load_screen(shot_path)[0] == 0, axis=2)
    for x, y, w, h in rects:
        print(f"{float(black[y:y + h, x:x + w].mean()):.3f}")
    return 0


def main(argv):
    argv = list(argv)
    conv_path = conversion_option(argv)
    cmd = argv[1]
    if cmd == "desktop":
        desktop(argv[2], int(argv[3]), int(argv[4]), *argv[5:6])
        return 0
    if cmd == "conversion":
        return conversion(argv[2], argv[3], argv[4])
    if cmd == "lens":
        return lens(argv[2], argv[3], argv[4:], conv_path)
    if cmd == "map":
        write_map(argv[2], argv[3], int(argv[4]), int(argv[5]))
        return 0
    if cmd == "check":
        return check(argv[2], argv[3], argv[4], conv_path)
    if cmd == "serve":
        return serve(argv[2], argv[3], conv_path)
    if cmd == "looks":
        return looks(argv[2], argv[3], argv[4:], conv_path)
    if cmd == "dark":
        numbers = list(map(int, argv[3:]))
        return dark(argv[2], [numbers[i:i + 4] for i in range(0, len(numbers) - 3, 4)])
    print(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
