#!/usr/bin/env bash
# Draws a classic desktop picture (teal background, icons, two windows, a
# taskbar) for headless demos and measurements: demo-desktop.sh <out.png> [WxH]
set -euo pipefail
out=$1
size=${2:-1024x768}
w=${size%x*}
h=${size#*x}

mvg=""
for i in 0 1 2 3; do
  y=$((24 + i * 80))
  mvg+="fill #ffffff rectangle 28,$y 60,$((y + 32)) "
  mvg+="fill #3060c0 rectangle 32,$((y + 4)) 56,$((y + 28)) "
  mvg+="fill #f0d040 circle 44,$((y + 16)) 44,$((y + 8)) "
done
window() {  # window <x> <y> <width> <height> <title colour>
  local x=$1 y=$2 ww=$3 wh=$4
  mvg+="fill #c0c0c0 rectangle $x,$y $((x + ww)),$((y + wh)) "
  mvg+="fill $5 rectangle $((x + 3)),$((y + 3)) $((x + ww - 3)),$((y + 21)) "
  mvg+="fill #ffffff rectangle $((x + 6)),$((y + 26)) $((x + ww - 6)),$((y + wh - 6)) "
}
window 180 90 460 330 '#000080'
mvg+="fill #d04040 rectangle 210,140 330,260 fill #40a040 circle 450,220 450,160 "
mvg+="fill #e0b020 polygon 520,380 600,260 620,390 "
window 520 300 380 260 '#808080'
for i in 0 1 2 3 4 5 6 7 8; do
  y=$((340 + i * 22))
  mvg+="fill #203080 rectangle 540,$y $((880 - (i * 37) % 120)),$((y + 9)) "
done
mvg+="fill #c0c0c0 rectangle 0,$((h - 28)) $w,$h fill #ffffff rectangle 0,$((h - 27)) $w,$((h - 26)) "
mvg+="fill #008000 rectangle 4,$((h - 24)) 60,$((h - 4)) "
/usr/bin/convert -size "$size" xc:'#008080' -draw "$mvg" "$out"
