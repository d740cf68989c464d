#!/usr/bin/env bash
# Writes the shade map fixtures of this folder with other programs' BMP
# writers (ImageMagick, netpbm and Pillow), so the reader is proven on files it
# did not write itself, in each header form those programs use. Run it again
# only to refresh the checked-in files; it needs Debian's imagemagick, netpbm
# and python3-pil.
#
# The picture (16 x 8): pixel (x, y), y counted from the top, has colour
# kColours[(x + 5 * y) % 32]; the tests compute the expected grays from the
# same table. Colours 0-2 are the telling palette entries (as red, green,
# blue): (30,20,10) -> gray 20, (254,255,255) -> 254, (0,1,1) -> 0.
#
# The files and their info headers:
#   magick-*        ImageMagick BMP3:  40 bytes (BITMAPINFOHEADER)
#   magick-v5-*     ImageMagick BMP:   124 bytes (BITMAPV5HEADER)
#   magick-bmp2     ImageMagick BMP2:  12 bytes (OS/2 core header, 3-byte palette entries)
#   netpbm-*        ppmtobmp -windows: 40 bytes
#   netpbm-os2      ppmtobmp -os2:     12 bytes
#   pillow-*        Pillow:            40 bytes
#
# None of these programs writes top-down rows, so the top-down twins are the
# same files with the rows reversed and the height negated, nothing else
# touched. The core header has unsigned sides: those files are bottom-up only.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
python=/usr/bin/python3     # the system one, which has Pillow
convert=/usr/bin/convert    # ImageMagick 6; another convert may come first on PATH
ppmtobmp=/usr/bin/ppmtobmp  # netpbm
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$python" - "$work/picture.ppm" <<'PY'
import sys
from PIL import Image

colours = [(30, 20, 10), (254, 255, 255), (0, 1, 1)]
colours += [((i * 37) % 256, (i * 91 + 7) % 256, (i * 53 + 101) % 256) for i in range(3, 32)]
assert len(set(colours)) == 32
width, height = 16, 8
pixels = [(x + 5 * y) % 32 for y in range(height) for x in range(width)]

# ImageMagick starts from a plain RGB picture and builds its own palette.
with open(sys.argv[1], "w") as ppm:
    ppm.write(f"P3\n{width} {height}\n255\n")
    for p in pixels:
        ppm.write("%d %d %d\n" % colours[p])

# Pillow writes the palette in the order given, 32 entries.
image = Image.new("P", (width, height))
image.putpalette([c for rgb in colours for c in rgb])
image.putdata(pixels)
image.save("pillow-bottom-up.bmp")
PY

# Uncompressed on purpose: for palette pictures ImageMagick picks RLE8 by default.
"$convert" "$work/picture.ppm" -type Palette -compress None BMP3:magick-bottom-up.bmp
"$convert" "$work/picture.ppm" -type Palette -compress None BMP:magick-v5-bottom-up.bmp
"$convert" "$work/picture.ppm" -type Palette -compress None BMP2:magick-bmp2.bmp
"$ppmtobmp" -windows -bpp=8 "$work/picture.ppm" >netpbm-bottom-up.bmp 2>/dev/null
"$ppmtobmp" -os2 -bpp=8 "$work/picture.ppm" >netpbm-os2.bmp 2>/dev/null
# Real files of the kinds the reader must refuse: run-length coded, 24-bit, 4-bit.
"$convert" "$work/picture.ppm" -type Palette BMP3:magick-rle8.bmp
"$convert" "$work/picture.ppm" -type TrueColor BMP3:magick-24bit.bmp
"$convert" "$work/picture.ppm" -colors 16 -type Palette -compress None BMP3:magick-4bit.bmp

"$python" - magick-bottom-up.bmp magick-v5-bottom-up.bmp netpbm-bottom-up.bmp pillow-bottom-up.bmp <<'PY'
import struct, sys
from PIL import Image

for name in sys.argv[1:]:
    data = bytearray(open(name, "rb").read())
    off_bits, = struct.unpack_from("<I", data, 10)
    width, height = struct.unpack_from("<ii", data, 18)
    planes, bits, compression = struct.unpack_from("<HHI", data, 26)
    assert (planes, bits, compression) == (1, 8, 0) and height > 0 and width % 4 == 0, (name, planes, bits)
    rows = [data[off_bits + i * width: off_bits + (i + 1) * width] for i in range(height)]
    struct.pack_into("<i", data, 22, -height)
    data[off_bits: off_bits + width * height] = b"".join(reversed(rows))
    twin = name.replace("bottom-up", "top-down")
    open(twin, "wb").write(data)
    # Both ways up must still be the same picture to the program that wrote it.
    assert Image.open(name).convert("RGB").tobytes() == Image.open(twin).convert("RGB").tobytes()
PY
"$python" - "$work/picture.ppm" <<'PY'
import struct, sys
from PIL import Image

# Each file is the header form it is named for, and holds the picture exactly
# to a reader that is not ours.
picture = Image.open(sys.argv[1]).convert("RGB").tobytes()
for name, info in [("magick-bottom-up.bmp", 40), ("magick-v5-bottom-up.bmp", 124),
                   ("magick-bmp2.bmp", 12), ("netpbm-bottom-up.bmp", 40), ("netpbm-os2.bmp", 12),
                   ("pillow-bottom-up.bmp", 40)]:
    data = open(name, "rb").read()
    found = struct.unpack_from("<I", data, 14)[0]
    assert found == info, (name, found)
    bits = struct.unpack_from("<H", data, 24 if info == 12 else 28)[0]
    assert bits == 8, (name, bits)
    assert Image.open(name).convert("RGB").tobytes() == picture, name

for name, bits, compression in [("magick-rle8.bmp", 8, 1), ("magick-24bit.bmp", 24, 0),
                                ("magick-4bit.bmp", 4, 0)]:
    found = struct.unpack_from("<HI", open(name, "rb").read(), 28)
    assert found == (bits, compression), (name, found)
PY
ls -l ./*.bmp
