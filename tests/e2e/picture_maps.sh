#!/usr/bin/env bash
# mkshademap.exe turning pictures into maps under Wine, with pictures made
# here by ImageMagick; every map read back by the saver's own reader
# (mapprobe.exe), which must find its whole rim at gray 128 and no step there.
#   decoders  each kind through the imaging component
#   fallbacks through GDI+ with the component's COM class unregistered (an XP
#             without it; Wine's GDI+ decodes through the component's DLL, so
#             that DLL stays); with the component's DLL turned off (GDI+ is
#             then not tried) BMP of every depth through the system's loader,
#             and a PNG refused by name
#   bad       damaged, cut, huge and non-pictures, outputs it may not write,
#             and a picture dropped on it, answered in a message box
#   saver     the real saver over the test desktop with a map from a picture,
#             checked by the shading rule
source "$(dirname "$0")/lib.sh"

cases=("${@:-decoders fallbacks bad saver}")
want() { [[ " ${cases[*]} " == *" $1 "* ]]; }
tool=$GLMIRE_BIN/mkshademap.exe
im=/usr/bin/convert
pics=$E2E_TMP/pictures
mkdir -p "$pics"

# Runs the writer; E2E_RC its exit status, E2E_ERR what it said on stderr.
# WRITER_DLLS adds to Wine's DLL overrides. It always says what it did, on
# stdout or stderr: a run that says nothing did not get to run (a Wine start
# seen to fail so on a busy machine) and is made again, three times at most.
writer() {
  local dlls=$WINEDLLOVERRIDES${WRITER_DLLS:+;$WRITER_DLLS} try
  for try in 1 2 3; do
    E2E_RC=0
    WINEDLLOVERRIDES=$dlls wine "$tool" "$@" </dev/null >"$E2E_TMP/out" 2>"$E2E_TMP/err" || E2E_RC=$?
    [ -s "$E2E_TMP/out" ] || [ -s "$E2E_TMP/err" ] && break
    echo "mkshademap.exe: no word, exit $E2E_RC (try $try)" >&2
  done
  E2E_ERR=$(tr -d '\r' <"$E2E_TMP/err")
}

# Checks the maps it names (<picture>=<map>) as the saver reads them.
maps_read() {  # maps_read <what> <map>...
  local what=$1 line
  shift
  local paths=()
  for m in "$@"; do paths+=("$(e2e_winpath "$m")"); done
  while read -r line; do
    echo "$what: $line"
    local name=${line%% *}
    e2e_check "$what ${name##*\\} read by the saver's reader, rim 128, no step" \
      "$(sed -E 's/.* ([0-9]+x[0-9]+) rim=([0-9]+) step=([0-9]+) .*/\2 \3/' <<<"$line" |
         awk '{print ($1 == 0 && $2 <= 12) ? "ok" : "rim " $1 " step " $2}')" ok
  done < <(wine "$GLMIRE_TOOLS/mapprobe.exe" maps "${paths[@]}" </dev/null 2>/dev/null | tr -d '\r')
}

# Each picture: its kind through a decoder configuration, and the decoder
# the writer names.
decode_all() {  # decode_all <what> <decoder words> <picture>...
  local what=$1 by=$2 p written=()
  shift 2
  for p in "$@"; do
    writer "$(e2e_winpath "$pics/$p")" "$(e2e_winpath "$E2E_TMP/$what-$p.bmp")"
    e2e_check "$what: $p made a map" "$E2E_RC $(grep -c "read by $by" "$E2E_TMP/out")" "0 1"
    [ "$E2E_RC" = 0 ] && written+=("$E2E_TMP/$what-$p.bmp") || echo "$what: $p: the writer said '$E2E_ERR'"
  done
  [ ${#written[@]} -gt 0 ] && maps_read "$what" "${written[@]}"
}

if want decoders || want fallbacks; then
  $im -size 96x64 xc:none -fill white -draw "circle 48 32 48 8" -channel A -blur 0x2 PNG32:"$pics/alpha.png"
  $im rose: -resize 200% -interlace JPEG -quality 90 "$pics/photo.jpg"
  $im logo: -resize 50% -transparent white "$pics/logo.gif"
  $im logo: -resize 25% "$pics/logo.tif"
  $im rose: -depth 16 PNG64:"$pics/deep.png"
  $im rose: -resize 48x48! "$pics/rose.ico"
  $im rose: -type TrueColor BMP3:"$pics/bmp24.bmp"
  $im logo: -resize 25% -monochrome BMP3:"$pics/bmp1.bmp"
  $im rose: -dither None -colors 16 -type Palette BMP3:"$pics/bmp4.bmp"
  $im rose: -type Palette BMP3:"$pics/bmp8.bmp"
  $im rose: -define bmp:subtype=RGB565 BMP:"$pics/bmp16.bmp"
  $im rose: -alpha set -type TrueColorAlpha BMP:"$pics/bmp32.bmp"
fi
if want decoders; then
  decode_all wic "the Windows Imaging Component" alpha.png photo.jpg logo.gif logo.tif deep.png rose.ico bmp24.bmp bmp1.bmp
fi
if want fallbacks; then
  wine reg delete 'HKEY_CLASSES_ROOT\CLSID\{CACAF262-9370-4615-A13B-9F5539DA4C0A}' /f >/dev/null 2>&1
  decode_all gdiplus "GDI+" alpha.png photo.jpg logo.gif logo.tif bmp24.bmp

  for b in 1 4 8 16 24 32; do
    e2e_check "bmp$b.bmp has $b bits a pixel" "$(od -An -tu2 -j28 -N2 "$pics/bmp$b.bmp" | tr -d ' ')" "$b"
  done
  WRITER_DLLS="windowscodecs=d" decode_all loader "the system's BMP loader" \
    bmp1.bmp bmp4.bmp bmp8.bmp bmp16.bmp bmp24.bmp bmp32.bmp
  WRITER_DLLS="windowscodecs,gdiplus=d" writer "$(e2e_winpath "$pics/alpha.png")" "$(e2e_winpath "$E2E_TMP/no.bmp")"
  echo "no decoders, a PNG: $E2E_ERR"
  e2e_check "no decoders: a PNG refused by name" \
    "$E2E_RC $(grep -c 'is a PNG picture, which this system cannot read: it has no working Windows Imaging Component or GDI+' <<<"$E2E_ERR") $([ -e "$E2E_TMP/no.bmp" ] && echo made || echo none)" "1 1 none"
fi

# A refused picture or output: exit 1, one line, nothing written beside it.
refused() {  # refused <what> <expected words> <out> <writer args...>
  local what=$1 words=$2 out=$3
  shift 3
  local before
  before=$(ls -l --time-style=full-iso "$(dirname "$out")" | md5sum)
  local start=$SECONDS
  writer "$@"
  echo "$what: exit $E2E_RC: $E2E_ERR"
  e2e_check "$what refused" "$E2E_RC $(wc -l <<<"$E2E_ERR") $(grep -c "^mkshademap: .*$words" <<<"$E2E_ERR")" "1 1 1"
  e2e_check "$what: the folder unchanged" "$(ls -l --time-style=full-iso "$(dirname "$out")" | md5sum)" "$before"
}

if want bad; then
  w() { e2e_winpath "$1"; }
  mkdir -p "$E2E_TMP/bad" "$E2E_TMP/bad/folder"
  $im rose: "$pics/rose.png"
  # A PNG header that claims 60000 x 60000 and then ends.
  printf '\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xea\x60\0\0\xea\x60\x08\x06\0\0\0\0\0\0\0' >"$pics/huge.png"
  head -c 3000 "$pics/rose.png" >"$pics/cut.png"
  $im rose: "$pics/whole.jpg"
  head -c 1200 "$pics/whole.jpg" >"$pics/cut.jpg"
  { head -c 600 "$pics/rose.png"; head -c 3000 /dev/zero; tail -c +3601 "$pics/rose.png"; } >"$pics/zeroed.png"
  echo "just some words" >"$pics/words.txt"
  cp "$pics/whole.jpg" "$E2E_TMP/bad/keep.jpg"
  out=$E2E_TMP/bad/out.bmp
  refused "huge claimed size" "claims 60000 x 60000 pixels" "$out" "$(w "$pics/huge.png")" "$(w "$out")"
  refused "truncated PNG" "cut short" "$out" "$(w "$pics/cut.png")" "$(w "$out")"
  refused "truncated JPEG" "cut short" "$out" "$(w "$pics/cut.jpg")" "$(w "$out")"
  refused "corrupt PNG" "cut short" "$out" "$(w "$pics/zeroed.png")" "$(w "$out")"
  refused "no picture" "is not a picture" "$out" "$(w "$pics/words.txt")" "$(w "$out")"
  refused "a picture as OUT" "is not a shade map, so it is left alone" "$E2E_TMP/bad/keep.jpg" \
    "$(w "$pics/rose.png")" "$(w "$E2E_TMP/bad/keep.jpg")"
  e2e_check "the picture named as OUT is untouched" "$(cmp -s "$pics/whole.jpg" "$E2E_TMP/bad/keep.jpg" && echo same)" same
  refused "OUT is a folder" "cannot write" "$E2E_TMP/bad/folder" "$(w "$pics/rose.png")" "$(w "$E2E_TMP/bad/folder")"
  refused "OUT in no folder" "cannot write .*the folder does not exist" "$out" \
    "$(w "$pics/rose.png")" "$(w "$E2E_TMP/bad")\\gone\\out.bmp"

  # A map named as OUT is replaced.
  writer ramp "$(w "$out")" 64
  writer "$(w "$pics/rose.png")" "$(w "$out")"
  e2e_check "a map named as OUT is replaced" "$E2E_RC $(od -An -tu4 -j18 -N4 "$out" | tr -d ' ')" "0 128"

  # Dropped on it: glmire.bmp beside the picture, the old one kept, a box says so.
  drop=$E2E_TMP/drop
  mkdir -p "$drop"
  cp "$pics/rose.png" "$drop/my rose.png"
  writer shadow "$(w "$drop/glmire.bmp")"
  cp "$drop/glmire.bmp" "$E2E_TMP/old.bmp"
  wine "$tool" "$(w "$drop/my rose.png")" </dev/null >/dev/null 2>&1 &
  dropped=$!
  e2e_track "$dropped"
  box=$(wine "$GLMIRE_TOOLS/mapprobe.exe" box mkshademap 200 </dev/null 2>/dev/null | tr -d '\r')
  echo "dropped: $box"
  e2e_wait_exit "$dropped" 100
  e2e_check "dropped: exit" "$E2E_RC" 0
  e2e_check "dropped: the box names the map, the kept one and what next" \
    "$(grep -c 'Wrote .*drop\\glmire.bmp (128 x 84) from my rose.png.*kept as glmire-1.bmp.*Next: copy glmire.bmp' <<<"$box")" 1
  e2e_check "dropped: the old glmire.bmp kept" "$(cmp -s "$E2E_TMP/old.bmp" "$drop/glmire-1.bmp" && echo kept)" kept
  maps_read dropped "$drop/glmire.bmp"
  e2e_check "the manifest asks for no elevation" "$(grep -c 'level="asInvoker"' "$tool")" 1
fi

if want saver; then
  e2e_test_desktop || exit 1
  $im logo: "$pics/logo.png"
  writer "$(e2e_winpath "$pics/logo.png")" "$(e2e_winpath "$E2E_TMP/logo-map.bmp")" 200
  e2e_check "saver: the logo's map" "$E2E_RC" 0
  e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/logo-map.bmp"
  e2e_start_saver "$E2E_TMP/saver/glmire.scr" /s
  if e2e_wait_saver; then
    e2e_exact_frame "$E2E_TMP/shot.xwd" "$E2E_TMP/logo-map.bmp"
    echo "saver over the logo's map (look $E2E_LOOKS): $E2E_VERDICT"
    e2e_check "saver: an exact frame of the logo's map" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
    xdotool key space
    e2e_wait_exit "$E2E_SAVER" 50
    e2e_check "saver: exit after a key" "$E2E_RC" 0
  else
    e2e_check "saver: window" missing shown
  fi
fi

e2e_finish
