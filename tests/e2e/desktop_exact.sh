#!/usr/bin/env bash
# The desktop exactly as it was, on 24- and 16-bit (5-6-5) displays: every
# look at the screen, from just before the saver starts, through its start
# and while it drifts, is either the screen before the start bit for bit, or
# that with one map-sized patch that is the 8-bit shading rule exactly on the
# display's own pixels (as a 32-bit capture reads them, and as the display
# then shows the result: both learned from the system). So under gray 128 no
# pixel differs from the desktop. A black or posterised window, a half-drawn
# frame or an old patch beside the new one is none of these. A busy desktop
# under a test map, and a smooth sky under the saver's own map, on which any
# seam or band would show. Each depth gets an X display of its own, on the
# script's private prefix; the screen is read as the X server holds it.
E2E_DEFER_UP=1
source "$(dirname "$0")/lib.sh"

[ -n "${GLMIRE_PRIVATE_ROOT:-}" ] || { echo "e2e: desktop_exact needs its private environment (glmire_e2e)"; exit 1; }
exec {own_lock}>"$GLMIRE_WINE_ROOT/lock"

$E2E_CHECK desktop "$E2E_TMP/busy.png" 1024 768
$E2E_CHECK desktop "$E2E_TMP/sky.png" 1024 768 sky
$E2E_CHECK map "$E2E_TMP/test-map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/test-map" "$E2E_TMP/test-map.bmp"
e2e_saver_copy "$E2E_TMP/own-map" "$GLMIRE_BIN/glmire.bmp"


# One saver run over one desktop: looks through the start, then after
# <drift seconds> five more; each must be exact.
run_case() {  # run_case <label> <desktop.png> <saver dir> <drift seconds>
  local label=$1 saver=$3 dir=$E2E_TMP/$depth/${1// /-}
  mkdir -p "$dir"
  e2e_show_desktop "$2" || e2e_check "$label: desktop shown" no yes
  xdotool mousemove 1000 10
  sleep 0.3
  e2e_look "$dir/before.xwd"

  # Looks as fast as they come, from before the start until the patch has
  # been drawn for a while.
  ( n=0
    while [ ! -e "$dir/stop" ]; do n=$((n + 1)); e2e_look "$dir/start-$(printf %04d "$n").xwd"; done ) &
  local looker=$!
  e2e_track "$looker"
  e2e_start_saver "$saver/glmire.scr" /s
  e2e_wait_window "Screen Saver" 150 || e2e_check "$label: window" missing shown
  sleep 2
  touch "$dir/stop"
  wait "$looker"
  local start summary drift n
  start=$($E2E_CHECK looks "$dir/before.xwd" "$saver/glmire.bmp" --conversion "$conversion" "$dir"/start-*.xwd)
  grep -v ': no patch on screen$\|mismatches=0$' <<<"$start" | grep -v '^looks=' | head -5
  summary=$(tail -n 1 <<<"$start")
  echo "$label, through the start: $summary"
  e2e_check "$label: every look through the start exact" "$(sed -E 's/.*wrong=//' <<<"$summary")" 0
  e2e_check "$label: the patch shown during the start" \
    "$(sed -E 's/.*patch=([0-9]+).*/\1/' <<<"$summary" | awk '{ print ($1 > 0) ? "yes" : "no" }')" yes

  sleep "$4"
  for n in 1 2 3 4 5; do e2e_look "$dir/drift-$n.xwd"; sleep 0.2; done
  drift=$($E2E_CHECK looks "$dir/before.xwd" "$saver/glmire.bmp" --conversion "$conversion" "$dir"/drift-*.xwd)
  summary=$(tail -n 1 <<<"$drift")
  echo "$label, after $4 s: $summary"
  grep -v '^looks=' <<<"$drift" | sed 's|.*/||' | head -5
  e2e_check "$label: every look after $4 s the desktop and one exact patch" \
    "$(sed -E 's/.*patch=([0-9]+).*/\1/' <<<"$summary")" 5

  xdotool key space
  e2e_wait_exit "$E2E_SAVER" 100
  e2e_check "$label: exit after a key" "$E2E_RC" 0
  rm -f "$dir"/*.xwd
}

for depth in 24 16; do
  export GLMIRE_SCREEN=1024x768x$depth
  glmire_wine_vars
  if ! glmire_display_up "$own_lock" || ! glmire_server_up "$own_lock"; then
    e2e_check "depth $depth: display and Wine" down up
    glmire_wine_down
    continue
  fi
  mkdir -p "$E2E_TMP/$depth"
  conversion=$E2E_TMP/$depth/conversion.json
  if ! e2e_learn_conversion "$conversion"; then
    e2e_check "depth $depth: the display's conversion learned" no yes
    glmire_wine_down
    continue
  fi
  run_case "depth $depth, busy desktop, test map" "$E2E_TMP/busy.png" "$E2E_TMP/test-map" 15
  run_case "depth $depth, sky, the saver's own map" "$E2E_TMP/sky.png" "$E2E_TMP/own-map" 3
  glmire_wine_down
done

e2e_finish
