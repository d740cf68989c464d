#!/usr/bin/env bash
# Builds glmire.scr and runs it full screen under Wine: the PE32 build where
# this machine runs 32-bit programs, else the x64 build (it says which).
#  - With a display ($DISPLAY set and reachable): runs there until you move
#    the mouse or press a key, like any screen saver.
#  - Headless: runs on a private Xvfb over a demo desktop picture, records a
#    few seconds into an animated GIF and says where it wrote it.
# Options: --gif <path> (headless output, default build/demo/glowmire.gif),
#          --seconds <n> (headless recording length, default 6),
#          --map <picture> (the lens made from your picture by the Windows
#          mkshademap.exe under Wine; the saver then runs as a copy in
#          build/<preset>/own-map/, so the build's glmire.bmp stays as it is),
#          --map-size <n> (that map's longer side, 64-4096, default 128).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
gif=$root/build/demo/glowmire.gif
seconds=6
picture=
map_size=128
while [ $# -gt 0 ]; do
  case $1 in
    --gif) gif=$(readlink -f "$2"); shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --map)
      [ -f "${2:-}" ] || { echo "scripts/run.sh: --map needs a picture file" >&2; exit 2; }
      picture=$(readlink -f "$2"); shift 2 ;;
    --map-size) map_size=$2; shift 2 ;;
    *) echo "usage: scripts/run.sh [--gif <path>] [--seconds <n>] [--map <picture> [--map-size <n>]]" >&2; exit 2 ;;
  esac
done

bash scripts/deps.sh
source scripts/wine-env.sh
glmire_pick_build
echo "Running $GLMIRE_PICK_REASON"
echo "Building glmire.scr ..."
cmake --preset "$GLMIRE_PRESET" >/dev/null
cmake --build --preset "$GLMIRE_PRESET" --target glmire shade_maps mkshademap_win >/dev/null
build=$root/build/$GLMIRE_PRESET
scr=$build/bin/glmire.scr
echo "Built $scr (with glmire.bmp beside it)"

export GLMIRE_WINE_ROOT=$build/wine
# The picture's map beside a copy of the saver, made once Wine is up.
own_map() {
  [ -n "$picture" ] || return 0
  local dir=$build/own-map winpic winmap
  mkdir -p "$dir"
  cp "$scr" "$dir/glmire.scr"
  winpic=Z:${picture//\//\\}
  winmap=Z:${dir//\//\\}\\glmire.bmp
  wine "$build/bin/mkshademap.exe" "$winpic" "$winmap" "$map_size" </dev/null | tr -d '\r' || exit 1
  scr=$dir/glmire.scr
  echo "Running the saver in $dir with the map of $picture"
}
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  export GLMIRE_DISPLAY=user
  glmire_wine_up
  own_map
  echo "Running glmire.scr /s on $DISPLAY: move the mouse or press a key to end it."
  set +e
  wine "$scr" /s
  echo "glmire.scr exited with $?"
  exit 0
fi

unset DISPLAY
glmire_session
glmire_wine_up
own_map
work=$GLMIRE_WORK

echo "No display: running on a private Xvfb ($DISPLAY) over a demo desktop."
bash scripts/demo-desktop.sh "$work/desktop.png"
feh --fullscreen --hide-pointer --no-menus "$work/desktop.png" >/dev/null 2>&1 &
glmire_track $!
sleep 1
xdotool mousemove 1020 760
wine "$scr" /s </dev/null >/dev/null 2>&1 &
saver=$!
glmire_track "$saver"
sleep 2

echo "Recording ${seconds} s ..."
frames=$((seconds * 10))
for i in $(seq -w 1 "$frames"); do
  xwd -root -silent >"$work/frame$i.xwd"
  sleep 0.08
done
xdotool key space
wait "$saver" && rc=0 || rc=$?
echo "glmire.scr exited with $rc"

mkdir -p "$(dirname "$gif")"
for f in "$work"/frame*.xwd; do /usr/bin/convert "$f" -resize 50% "${f%.xwd}.png"; done
# One palette for every frame, no dithering: what does not move stays the same
# from frame to frame, so the GIF stores little more than the moving lens.
/usr/bin/convert $(ls "$work"/frame*.png | awk 'NR % 8 == 1') -append +dither -colors 96 -unique-colors \
  "$work/palette.png"
/usr/bin/convert -delay 10 -loop 0 "$work"/frame*.png +dither -remap "$work/palette.png" \
  -layers OptimizeTransparency "$gif"
echo "Wrote $gif ($(du -k "$gif" | cut -f1) KB, ${frames} frames)"
