#!/usr/bin/env bash
# Measures the running saver on a private Xvfb (1024x768x24 unless --screen
# says otherwise) with the default map, as a user would meet it, and a
# desktop-effect peer on the same display:
#   - start to window, to first frame and to a screen that stays the desktop
#     exactly but for the patch, beside a bare Wine process start; the looks
#     at the screen that showed anything else (black, posterised, half drawn)
#     and the longest time they lasted
#   - peak memory, and what the exact copy of the screen costs
#   - the lens over a smooth sky desktop with the default map, as a user sees
#     it: gray-128 pixels that differ from the desktop, the distinct red
#     levels where the map lightens, the error against the rule unrounded
#   - frames per second (screen changes seen, against the 50 ms cadence)
#   - CPU seconds per wall second over 10 s: the saver + wineserver + the X
#     server, and the peer (xscreensaver's spotlight) + the X server
#   - peak memory of the saver beside a bare Wine process
#   - where a frame's time goes (present, flush, and save + shade + restore),
#     beside another build's own measure.exe in the same run with --against
#   - the start (to the window, and to the exact desktop on screen) and the
#     close on a move of 10 px, a key and a click (to the desktop back
#     exactly, and to the process's end), min/median/max of --rounds rounds,
#     beside a bare full-screen window (tools/bare_window.cpp) measured the
#     same way in the same run
# Usage: scripts/measure.sh [--no-peer] [--seconds N] [--screen WxHxDEPTH] [--start-only]
#                           [--saver FOLDER] [--against BUILD] [--rounds N]
#   --start-only   only the start and the memory
#   --rounds       rounds of each start and close beside the bare window (5)
#   --saver        measure the glmire.scr and glmire.bmp in FOLDER (another build)
#   --against      a Windows build tree of another commit (its tools/measure.exe):
#                  the frame cost is taken of both, in turns, on the same display
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=10
peer=1
screen=1024x768x24
start_only=0
saver_dir=""
rounds=5
against=""
usage="usage: scripts/measure.sh [--no-peer] [--seconds N] [--screen WxHxDEPTH] [--start-only] [--saver FOLDER]"
usage+=" [--against BUILD] [--rounds N]"
while [ $# -gt 0 ]; do
  case $1 in
    --no-peer) peer=0; shift ;;
    --seconds) seconds=$2; shift 2 ;;
    --screen) screen=$2; shift 2 ;;
    --start-only) start_only=1; peer=0; shift ;;
    --saver) saver_dir=$(readlink -f "$2"); shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --against) against=$(readlink -f "$2"); shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
[[ $screen =~ ^([0-9]+)x([0-9]+)x(16|24)$ ]] || { echo "$usage (depth 16 or 24)" >&2; exit 2; }
sw=${BASH_REMATCH[1]} sh=${BASH_REMATCH[2]} depth=${BASH_REMATCH[3]}

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
cmake --build --preset "$GLMIRE_PRESET" --target glmire shade_maps measure winprobe bare_window >/dev/null
build=$root/build/$GLMIRE_PRESET

export GLMIRE_WINE_ROOT=$root/build/measure/$GLMIRE_WINE_ARCH/wine GLMIRE_SCREEN=$screen
unset DISPLAY
glmire_session
glmire_wine_up
work=$GLMIRE_WORK

winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
# Through a file: a saver the probe starts inherits its output and would keep
# a pipe open for as long as it runs.
measure() {
  measure_with "$build/tools/measure.exe" "$@"
}
measure_with() {  # measure_with <measure.exe> <arguments...>
  local exe=$1
  shift
  wine "$exe" "$@" </dev/null >"$work/measure.out" 2>/dev/null || true
  tr -d '\r' <"$work/measure.out"
}
value() { sed -n "s/^$1 //p" <<<"$2"; }
ms() { local v; v=$(value "$1" "$2"); [ "$v" = -1.0 ] && echo never || echo "$v ms"; }
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

# Smooth gradients and flat blocks: the desktop shows any change of its bits.
/usr/bin/python3 tests/e2e/frame_check.py desktop "$work/desktop.png" "$sw" "$sh"
# The root window too, for the peer's desktop grab; Wine sees only the window.
feh --bg-fill "$work/desktop.png"
feh --fullscreen --hide-pointer --no-menus "$work/desktop.png" >/dev/null 2>&1 &
glmire_track $!
sleep 1
xdotool mousemove $((sw - 4)) $((sh - 8))
xserver=$(cat "$GLMIRE_WINE_ROOT/xvfb.pid")
server=$(glmire_server_pid)
scr=${saver_dir:-$build/bin}/glmire.scr
map=${saver_dir:-$build/bin}/glmire.bmp

read -r mapw maph < <(/usr/bin/identify -format '%w %h\n' "$map")
mib() { awk -v b="$1" 'BEGIN { printf "%d B (%.1f MiB)", b, b / 1048576 }'; }
echo "Glowmire ($GLMIRE_PRESET, $GLMIRE_WINE_ARCH prefix) on Xvfb $screen, $(wine --version), map ${mapw}x${maph}: $scr"
echo "Buffers full screen: the exact copy ${sw}x${sh}x4 + its save buffer $((mapw * maph * 4)) B + map $((mapw * maph)) B" \
  "= $(mib $((sw * sh * 4 + mapw * maph * 5))); on three 4K monitors (11520x2160)" \
  "$(mib $((11520 * 2160 * 4 + mapw * maph * 5)))"
echo "Without room for the copy's save buffer (and in the preview): the 5-5-5 snapshot ${sw}x${sh}x2 = $(mib $((sw * sh * 2)))," \
  "its save buffer $((mapw * maph * 2)) B"

bare=$(measure bare "$(winpath "$build/tools/measure.exe") idle 0" 7)
echo "Bare Wine process start and end: $(value bare-start-ms "$bare") ms"
for run in 1 2 3; do
  start=$(measure start "$(winpath "$scr") /s" "$mapw" "$maph" 5)
  echo "Run $run: window after $(ms window-ms "$start"), first frame after $(ms first-frame-ms "$start")," \
    "the desktop exact but for the patch from $(ms exact-from-ms "$start") on;" \
    "$(value bad-looks "$start") of $(value looks "$start") looks showed anything else" \
    "(longest $(value longest-bad-ms "$start") ms, at most $(value most-changed-pixels "$start") pixels changed)"
  if [ "$run" = 3 ]; then
    saver=$(glmire_prefix_pids 'glmire\.scr')
    echo "Peak resident memory of the saver: $(( $(awk '/VmHWM/ { print $2 }' "/proc/$saver/status") / 1024 )) MB"
  fi
  close_saver
done

# --- The start and the close beside a bare window -----------------------------
bare_window=$(winpath "$build/tools/bare_window.exe")
saver_class=WindowsScreenSaverClass bare_class=GlowmireBareWindow
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a > 0 && b > 0) printf "%.2fx", a / b; else print "-" }'; }

# Min/median/max of the numbers given, or "none".
three() {
  if [ $# -eq 0 ]; then echo none; else printf '%s\n' "$@" | sort -n |
    awk '{ v[NR] = $1 } END { printf "%.0f/%.0f/%.0f", v[1], v[int((NR + 1) / 2)], v[NR] }'; fi
}
# The saver's and the bare window's starts take turns, so that whatever the
# machine does meanwhile weighs on both alike.
saver_windows=() saver_desktops=() bare_windows=()
for round in $(seq "$rounds"); do
  out=$(measure opening "$saver_class" "$(winpath "$scr") /s" 1 "$mapw" "$maph")
  a=$(sed -n 's/^round 1 window-ms \([0-9.]*\) desktop-ms \([0-9.]*\)$/\1 \2/p' <<<"$out")
  [ -n "$a" ] && { saver_windows+=("${a% *}"); saver_desktops+=("${a#* }"); }
  out=$(measure opening "$bare_class" "$bare_window" 1 0 0)
  a=$(sed -n 's/^round 1 window-ms \([0-9.]*\) .*$/\1/p' <<<"$out")
  [ -n "$a" ] && bare_windows+=("$a")
done
saver_window=$(three "${saver_windows[@]}") bare_start=$(three "${bare_windows[@]}")
echo "Start (min/median/max of $rounds, in turns): glmire.scr /s to its window $saver_window ms," \
  "to the exact desktop on screen $(three "${saver_desktops[@]}") ms;" \
  "the bare window to its window $bare_start ms" \
  "(saver / bare, medians: $(ratio "$(cut -d/ -f2 <<<"$saver_window")" "$(cut -d/ -f2 <<<"$bare_start")"))"

# One close of <command line>'s window on <input>: "<to the desktop> <to the end>".
close_round() {  # close_round <class> <command line> <move|key|click>
  local ready=$work/ready i pid
  rm -f "$ready"
  xdotool mousemove $((sw / 2)) $((sh / 2))
  wine "$build/tools/measure.exe" closing "$1" "$2" "$3" "$(winpath "$work")\\ready" \
    </dev/null >"$work/close.out" 2>/dev/null &
  pid=$!
  for i in $(seq 300); do
    [ -e "$ready" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  case $3 in
    move) xdotool mousemove_relative -- 10 0 ;;
    key) xdotool key space ;;
    click) xdotool click 1 ;;
  esac
  wait "$pid" || true
  local out
  out=$(tr -d '\r' <"$work/close.out")
  echo "$(value input-desktop-ms "$out") $(value input-end-ms "$out")"
}
# The close's figures of one program and input, <rounds> times.
close_rounds() {  # close_rounds <class> <command line> <move|key|click>: "min/med/max min/med/max"
  local round desktop=() ended=() a b
  for round in $(seq "$rounds"); do
    read -r a b < <(close_round "$@")
    case $a in "" | -*) ;; *) desktop+=("$a") ;; esac
    case $b in "" | -*) ;; *) ended+=("$b") ;; esac
  done
  echo "$(three "${desktop[@]}") $(three "${ended[@]}")"
}
[ "$start_only" = 1 ] && exit 0

echo "Close, from the input (min/median/max ms of $rounds):  to the desktop back exactly  to the process's end"
for input in move key click; do
  case $input in move) what="a move of 10 px" ;; key) what="a key" ;; click) what="a click" ;; esac
  read -r saver_desktop saver_end < <(close_rounds "$saver_class" "$(winpath "$scr") /s" "$input")
  read -r bare_desktop bare_end < <(close_rounds "$bare_class" "$bare_window" "$input")
  printf '  %-16s glmire.scr   %-27s %s\n' "$what" "$saver_desktop" "$saver_end"
  printf '  %-16s bare window  %-27s %-22s saver / bare, medians: %s, %s\n' "" "$bare_desktop" "$bare_end" \
    "$(ratio "$(cut -d/ -f2 <<<"$saver_desktop")" "$(cut -d/ -f2 <<<"$bare_desktop")")" \
    "$(ratio "$(cut -d/ -f2 <<<"$saver_end")" "$(cut -d/ -f2 <<<"$bare_end")")"
done
# The lens as a user sees it, over a smooth sky: any seam at the map's gray-128
# border or band inside shows on it.
source tests/e2e/conversion.sh
conversion=()
if [ "$depth" != 24 ]; then
  glmire_learn_conversion "$build/tools/winprobe.exe" "$work/conversion" "$work/conversion.json" >/dev/null &&
    conversion=(--conversion "$work/conversion.json")
fi
/usr/bin/python3 tests/e2e/frame_check.py desktop "$work/sky.png" "$sw" "$sh" sky
feh --fullscreen --hide-pointer --no-menus "$work/sky.png" >/dev/null 2>&1 &
glmire_track $!
sleep 1
xdotool mousemove $((sw - 4)) $((sh - 8))
xwd -root -silent >"$work/sky.xwd"
wine "$scr" /s </dev/null >/dev/null 2>&1 &
glmire_track $!
sleep 3
for n in 1 2 3 4 5 6; do xwd -root -silent >"$work/lens-$n.xwd"; sleep 0.4; done
echo "The lens over a sky desktop, six looks:"
/usr/bin/python3 tests/e2e/frame_check.py lens "$work/sky.xwd" "$map" "${conversion[@]}" "$work"/lens-*.xwd |
  sed -e 's|^.*/lens-|  look |' -e 's|\.xwd:||'
close_saver
rm -f "$work"/*.xwd
xdotool search --class feh 2>/dev/null | tail -n 1 | xargs -r xdotool windowkill 2>/dev/null || true

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
if [ -n "$against" ]; then
  # The frame: save + shade + restore + present, per frame, three turns each.
  frame_us() {
    awk '/^save, shade, restore/ { s = $(NF - 1) } /^present/ { p = $2 } END { printf "%.1f", s + p }' <<<"$1"
  }
  ours=() theirs=()
  for turn in 1 2 3; do
    ours+=("$(frame_us "$(measure frame-cost "$(winpath "$map")" 1000)")")
    theirs+=("$(frame_us "$(measure_with "$against/tools/measure.exe" frame-cost "$(winpath "$map")" 1000)")")
  done
  echo "Frame cost (save + shade + restore + present, us/frame, three turns each):" \
    "this build ${ours[*]}; $against ${theirs[*]}"
fi

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
