#!/usr/bin/env bash
# Several monitors: the full-screen saver covers, snapshots and drifts over the
# whole virtual screen. Each arrangement gets an X display of its own (one wide
# Xvfb screen cut into two monitors with xrandr) and Wine a copy of the ready
# prefix told to read the monitors through Xinerama (the private environment
# every end-to-end script gets, brought up here once per arrangement).
E2E_DEFER_UP=1
# The one script on a bare X server. Wine asks a window manager to stretch a
# full-screen window over several monitors (_NET_WM_FULLSCREEN_MONITORS) only
# when it follows the monitors through XRandR; the monitors here are cut out of
# one Xvfb output and seen only through Xinerama, so Wine 8.0 never asks, and a
# manager (openbox, which knows no such request, and icewm, which honours it,
# alike) puts the window on one monitor. What the saver itself covers is
# checked without one.
export GLMIRE_WM=none
source "$(dirname "$0")/lib.sh"

command -v xrandr >/dev/null || { echo "e2e: xrandr missing (x11-xserver-utils)"; exit 1; }

readonly SCREEN_W=1824 SCREEN_H=768
# name | the monitors, as xrandr --setmonitor takes them (a * marks the
# primary) | what Wine must report | the primary's and the other monitor's
# rectangles on the X screen, x0 y0 x1 y1 each
arrangements=(
  "second monitor right of the primary|LEFT 1024/270x768/203+0+0 screen;RIGHT 800/211x600/158+1024+0 none|monitors=2 virtual=0,0 1824x768 primary=1024x768|0 0 1024 768|1024 0 1824 600"
  "second monitor left of and above the primary|LEFT 1024/270x768/203+0+0 screen;*RIGHT 800/211x600/158+1024+100 none|monitors=2 virtual=-1024,-100 1824x768 primary=800x600|1024 100 1824 700|0 0 1024 768"
)

inside() {  # inside <x> <y> <x0> <y0> <x1> <y1>
  [ "$1" -ge "$3" ] && [ "$1" -lt "$5" ] && [ "$2" -ge "$4" ] && [ "$2" -lt "$6" ]
}

[ -n "${GLMIRE_PRIVATE_ROOT:-}" ] || { echo "e2e: multi_monitor needs its private environment (glmire_e2e)"; exit 1; }
exec {own_lock}>"$GLMIRE_WINE_ROOT/lock"

# The prefix as the other tests have it, plus the one setting that makes Wine
# see monitors xrandr made up (its XRandR path sees only the one output).
cat >>"$WINEPREFIX/user.reg" <<'REG'

[Software\\Wine\\X11 Driver] 1700000000
"UseXRandR"="N"
REG
export GLMIRE_SCREEN=${SCREEN_W}x${SCREEN_H}x24

# Starts this arrangement's display and Wine on it.
own_up() {  # own_up <monitors>
  local monitor
  glmire_display_up "$own_lock" || return 1
  IFS=';' read -r -a monitors <<<"$1"
  for monitor in "${monitors[@]}"; do
    # shellcheck disable=SC2086
    xrandr --setmonitor $monitor || return 1
  done
  glmire_server_up "$own_lock"
}

# The placement of the patch in a frame_check verdict: "x y w h".
patch_of() { sed -nE 's/.*patch at ([-0-9]+),([-0-9]+) size ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/p' <<<"$1"; }

e2e_picture desktop "$E2E_TMP/desktop.png" "$SCREEN_W" "$SCREEN_H"
e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"

for arrangement in "${arrangements[@]}"; do
  IFS='|' read -r name monitors expected primary second <<<"$arrangement"
  own_up "$monitors" || { e2e_check "$name: display" missing up; glmire_wine_down; continue; }
  screens=$(e2e_probe screens)
  echo "$name: $screens"
  e2e_check "$name: monitors as Wine sees them" "${screens% desktop-dc-origin=*}" "$expected"

  # The desktop picture over the whole X screen, both monitors and the parts
  # neither shows; no window manager, so the geometry is taken as asked.
  feh --borderless --hide-pointer --no-menus --geometry "${SCREEN_W}x${SCREEN_H}+0+0" "$E2E_TMP/desktop.png" \
    >/dev/null 2>&1 &
  feh_pid=$!
  e2e_track "$feh_pid"
  e2e_wait_feh "$E2E_TMP/desktop.png" || e2e_check "$name: desktop picture" missing shown
  e2e_park_pointer 1000 10
  e2e_look "$E2E_TMP/before.xwd"

  e2e_start_saver "$E2E_TMP/saver/glmire.scr" /s
  e2e_wait_saver || e2e_check "$name: window" missing shown
  virtual=${expected#*virtual=}
  virtual=${virtual% primary=*}
  e2e_check "$name: the window covers the virtual screen" "$(e2e_probe rect "Screen Saver")" "$virtual"

  # Follows the patch until it was seen exact on either monitor. Each look
  # takes the first of a few screenshots that is whole (Wine may put a frame
  # up in more than one step); a wrong picture is never whole. The patch
  # drifts from one monitor to the other in seconds, at random: between looks
  # the poll gives the processors back to the tests beside it for half a second.
  on_first=0 on_second=0 looks=0 wrong=0
  deadline=$((SECONDS + 90))
  while [ "$SECONDS" -lt "$deadline" ] && { [ "$on_first" = 0 ] || [ "$on_second" = 0 ]; }; do
    looks=$((looks + 1))
    for try in $(seq 8); do
      e2e_look "$E2E_TMP/shot.xwd"
      e2e_verdict "$E2E_TMP/shot.xwd" "$E2E_TMP/map.bmp"
      verdict=$E2E_VERDICT
      grep -qE 'mismatches=0$|no patch on screen' <<<"$verdict" && break
    done
    case $verdict in
      *"mismatches=0") sleep 0.5 ;;
      *"no patch on screen") sleep 0.5; continue ;;  # all of it where no monitor shows
      *) wrong=$((wrong + 1)); echo "$name look $looks: $verdict"; continue ;;
    esac
    read -r px py pw ph < <(patch_of "$verdict")
    cx=$((px + pw / 2)) cy=$((py + ph / 2))
    # shellcheck disable=SC2086
    if inside "$cx" "$cy" $second; then
      [ "$on_second" = 0 ] && echo "$name look $looks: on the other monitor, $verdict"
      on_second=1
    elif inside "$cx" "$cy" $primary; then
      [ "$on_first" = 0 ] && echo "$name look $looks: on the primary, $verdict"
      on_first=1
    fi
  done
  e2e_check "$name: every look at the screen exact" "$wrong" 0
  e2e_check "$name: the patch drawn exactly on the primary" "$on_first" 1
  e2e_check "$name: the patch drawn exactly on the other monitor" "$on_second" 1

  xdotool key space
  e2e_wait_exit "$E2E_SAVER" 100
  e2e_check "$name: exit after a key" "$E2E_RC" 0
  kill "$feh_pid" 2>/dev/null
  glmire_wine_down
done

e2e_finish
