#!/usr/bin/env bash
# Maps the saver must refuse, at the screen: other programs' files of the kinds
# it does not read, headers broken one field at a time or of an unknown size,
# pixels placed inside the palette, and sizes no 32-bit process can hold. Each gives the black screen with the failure text, closes
# on input with 0 and leaves nothing behind.
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
# The last two cases need the address space of a 32-bit process; a 64-bit saver
# is given as little here, so the same failure path runs on both builds.
[ "${GLMIRE_WINE_ARCH:-win32}" = win64 ] && E2E_ADDRESS_LIMIT_KB=$GLMIRE_X64_ADDRESS_LIMIT_KB

# A valid 8 x 8 map with one field changed, or cut short.
/usr/bin/python3 - "$E2E_TMP" <<'PY'
import struct, sys

def bmp(w=8, h=8, planes=1, used=0, pixels=True, info_size=40, offset_shift=0):
    colours = used if 0 < used <= 256 else 256
    palette = b"".join(struct.pack("<BBBB", i, i, i, 0) for i in range(colours))
    offset = 14 + info_size + len(palette)
    rows = bytes(i & 255 for i in range(abs(w) * abs(h))) if pixels else b""
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset + offset_shift)
    info = struct.pack("<IiiHHIIiiII", info_size, w, h, planes, 8, 0, len(rows), 2835, 2835, used, 0)
    return header + info.ljust(info_size, b"\0") + palette + rows

cases = {
    "width-6": bmp(w=6),
    "height-3": bmp(h=3),
    "two-planes": bmp(planes=2),
    "colours-257": bmp(used=257),
    "truncated-header": bmp()[:30],
    # Pixels said to start inside the palette would show its bytes.
    "offset-in-palette": bmp(offset_shift=-4),
    # An OS/2 2.x header: not one of the forms the reader knows.
    "header-64": bmp(info_size=64),
    # More bytes than a signed 32-bit size: refused by the reader itself.
    "over-2gb": bmp(w=65532, h=32770, pixels=False),
    # Just under that: a size the reader takes, the platform cannot give.
    "no-memory": bmp(w=65532, h=32767, pixels=False),
}
for name, data in cases.items():
    with open(f"{sys.argv[1]}/{name}.bmp", "wb") as f:
        f.write(data)
PY

maps="$GLMIRE_SOURCE/tests/maps"
# Cases named on the command line run alone (the x64 tree's address-limit ones).
while read -r -u 4 name map; do
  [ $# -eq 0 ] || [[ " $* " == *" $name "* ]] || continue
  dir="$E2E_TMP/$name"
  e2e_saver_copy "$dir" "$map"
  e2e_start_saver "$dir/glmire.scr" /s
  if ! e2e_wait_saver; then
    e2e_check "$name: window" missing shown
    continue
  fi
  e2e_check_failure_screen "$name" "$dir/shot.xwd"
  xdotool key shift
  e2e_wait_exit "$E2E_SAVER" 100
  e2e_check "$name: closes, exit 0" "$E2E_RC" 0
  e2e_nothing_left "$name"
done 4<<EOF
rle8 $maps/magick-rle8.bmp
24-bit $maps/magick-24bit.bmp
4-bit $maps/magick-4bit.bmp
width-6 $E2E_TMP/width-6.bmp
height-3 $E2E_TMP/height-3.bmp
two-planes $E2E_TMP/two-planes.bmp
colours-257 $E2E_TMP/colours-257.bmp
truncated-header $E2E_TMP/truncated-header.bmp
offset-in-palette $E2E_TMP/offset-in-palette.bmp
header-64 $E2E_TMP/header-64.bmp
over-2gb $E2E_TMP/over-2gb.bmp
no-memory $E2E_TMP/no-memory.bmp
EOF

e2e_finish
