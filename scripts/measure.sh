#!/usr/bin/env bash
# Measures the running saver on a private 1024x768 Xvfb with the default map,
# as a user would meet it, and a desktop-effect peer on the same display:
#   - start to window and to first frame, beside a bare Wine process start
#   - frames per second (screen changes seen, against the 50 ms cadence)
#   - CPU seconds per wall second over 10 s: the saver + wineserver + the X
#     server, and the peer (xscreensaver's spotlight) + the X server
#   - peak memory of the saver beside a bare Wine process
#   - where a frame's time goes (present, flush, and save + shade + restore)
# Usage: scripts/measure.sh [--no-peer] [--seconds N]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=10
peer=1
while [ $# -gt 0 ]; do
  case $1 in
    --no-peer) peer=0; shift ;;
    --seconds) seconds=$2; shift 2 ;;
    *) echo "usage: scripts/measure.sh [--no-peer] [--seconds N]" >&2; exit 2 ;;
  esac
done

bash scripts/deps.sh
spotlight=/usr/libexec/xscreensaver/spotlight
if [ "$peer" = 1 ] && [ ! -x "$spotlight" ]; then
  if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
    xscreensaver-data-extra >/dev/null
fi
source scripts/wine-env.sh
glmire_pick_build
echo "Measuring $GLMIRE_PICK_REASON"
cmake --preset "$GLMIRE_PRESET" >/dev/null
cmake --build --preset "$GLMIRE_PRESET" --target glmire shade_maps measure >/dev/null
build=$root/build/$GLMIRE_PRESET

export GLMIRE_WINE_ROOT=$root/build/measure/$GLMIRE_WINE_ARCH/wine
unset DISPLAY
glmire_session
glmire_wine_up
work=$GLMIRE_WORK

winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
# Through a file: a saver the probe starts inherits its output and would keep
# a pipe open for as long as it runs.
measure() {
  wine "$build/tools/measure.exe" "$@" </dev/null >"$work/measure.out" 2>/dev/null || true
  tr -d '\r' <"$work/measure.out"
}
value() { sed -n "s/^$1 //p" <<<"$2"; }
ticks() {  # user + system clock ticks of the given pids
  local total=0 pid
  for pid in "$@"; do
    [ -r "/proc/$pid/stat" ] || continue
    total=$((total + $(awk '{ print $14 + $15 }' "/proc/$pid/stat")))
  done
  echo "$total"
}
hz=$(getconf CLK_TCK)
cpu_per_wall() {  # cpu_per_wall <seconds> <pids...>: CPU seconds per wall second
  local s=$1
  shift
  local before after
  before=$(ticks "$@")
  sleep "$s"
  after=$(ticks "$@")
  awk -v t=$((after - before)) -v hz="$hz" -v s="$s" 'BEGIN { printf "%.3f", t / hz / s }'
}
pid_of() { pgrep -n -f "$1" || true; }
close_saver() {
  local i
  xdotool mousemove 512 384 sleep 0.3 mousemove 1020 760
  for i in $(seq 50); do
    [ -z "$(glmire_prefix_pids 'glmire\.scr')" ] && return 0
    sleep 0.1
  done
  echo "the saver did not close on a mouse move" >&2
  return 1
}

bash scripts/demo-desktop.sh "$work/desktop.png"
# The root window too, for the peer's desktop grab; Wine sees only the window.
feh --bg-fill "$work/desktop.png"
feh --fullscreen --hide-pointer --no-menus "$work/desktop.png" >/dev/null 2>&1 &
glmire_track $!
sleep 1
xdotool mousemove 1020 760
xserver=$(cat "$GLMIRE_WINE_ROOT/xvfb.pid")
server=$(glmire_server_pid)
scr=$build/bin/glmire.scr
map=$build/bin/glmire.bmp

read -r mapw maph < <(/usr/bin/identify -format '%w %h\n' "$map")
echo "Glowmire ($GLMIRE_PRESET, $GLMIRE_WINE_ARCH prefix) on Xvfb 1024x768x24, $(wine --version), default map ${mapw}x${maph}"
echo "Buffers: frame 1024x768x2 = $((1024 * 768 * 2)) B, map $((mapw * maph)) B, save buffer $((mapw * maph * 2)) B"

bare=$(measure bare "$(winpath "$build/tools/measure.exe") idle 0" 7)
echo "Bare Wine process start and end: $(value bare-start-ms "$bare") ms"
for run in 1 2 3; do
  first=$(measure first-frame "$(winpath "$scr") /s" 40000)
  echo "Run $run: window after $(value window-ms "$first") ms, first frame after $(value first-frame-ms "$first") ms"
  close_saver
done

wine "$scr" /s </dev/null >/dev/null 2>&1 &
glmire_track $!
sleep 3
saver=$(glmire_prefix_pids 'glmire\.scr')
echo "CPU over ${seconds} s (CPU s per wall s):"
ours_saver=$(cpu_per_wall "$seconds" "$saver")
ours_all=$(cpu_per_wall "$seconds" "$saver" "$server" "$xserver")
echo "  glowmire.scr alone            $ours_saver"
echo "  glowmire + wineserver + Xvfb  $ours_all"
frames=$(measure frames 5)
echo "Screen changes per second: $(value screen-changes-per-s "$frames") (cadence 50 ms + drawing: at most 20;" \
  "the probe grabbed the screen $(value grabs-per-s "$frames") times a second)"
hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$saver/status")
wine "$build/tools/measure.exe" idle 3000 </dev/null >/dev/null 2>&1 &
idle=$!
sleep 2
bare_hwm=$(awk '/VmHWM/ { print $2 }' "/proc/$idle/status")
wait "$idle" || true
echo "Peak resident memory: glmire.scr $((hwm / 1024)) MB, a bare Wine process $((bare_hwm / 1024)) MB"
close_saver

echo "Where a frame's time goes (the saver's steps on a full-screen window, no sleep):"
measure frame-cost "$(winpath "$map")" 1000 | sed 's/^/  /'

if [ "$peer" = 1 ]; then
  "$spotlight" -window -geometry 1024x768+0+0 >/dev/null 2>&1 &
  hack=$!
  glmire_track "$hack"
  sleep 3
  theirs=$(cpu_per_wall "$seconds" "$hack" "$xserver")
  echo "  spotlight + Xvfb              $theirs"
  kill "$hack" 2>/dev/null || true
  awk -v a="$ours_all" -v b="$theirs" 'BEGIN { printf "Ratio ours / spotlight: %.2f\n", a / b }'
fi
