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

e2e_picture desktop "$E2E_TMP/busy.png" 1024 768
e2e_picture desktop "$E2E_TMP/sky.png" 1024 768 sky
e2e_picture map "$E2E_TMP/test-map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/test-map" "$E2E_TMP/test-map.bmp"
e2e_saver_copy "$E2E_TMP/own-map" "$GLMIRE_BIN/glmire.bmp"


# The complete looks of a running looker ($dir/start-*.xwd but the last,
# which it may still be writing), in order.
complete_looks() {
  local looks=("$dir"/start-*.xwd)
  [ -e "${looks[0]}" ] || return 0
  printf '%s\n' "${looks[@]:0:${#looks[@]}-1}"
}

# Where the last exact patch among frame_check's lines was: "<x> <y> <w> <h>".
last_patch() {
  grep 'mismatches=0$' | tail -n 1 | sed -E 's/.*patch at ([-0-9]+),([-0-9]+) size ([0-9]+)x([0-9]+).*/\1 \2 \3 \4/'
}

# One saver run over one desktop: looks through the start, then once the
# patch has drifted off the place where the start left it, five more; each
# must be exact.
run_case() {  # run_case <label> <desktop picture> <saver dir>
  local label=$1 saver=$3 dir=$E2E_TMP/$depth/${1// /-}
  mkdir -p "$dir"
  e2e_show_desktop "$2" || e2e_check "$label: desktop shown" no yes
  e2e_park_pointer 1000 10
  e2e_look "$dir/before.xwd"

  # Looks as fast as they come, from before the start until eight have
  # followed one with the saver's drawing.
  ( n=0
    while [ ! -e "$dir/stop" ]; do n=$((n + 1)); e2e_look "$dir/start-$(printf %04d "$n").xwd"; done ) &
  local looker=$!
  e2e_track "$looker"
  e2e_start_saver "$saver/glmire.scr" /s
  e2e_wait_saver || e2e_check "$label: window" missing shown
  # Only the newest look is compared: the looker does not wait for this.
  local looks=() drawn="" i
  for i in $(seq 600); do
    mapfile -t looks < <(complete_looks)
    if [ -z "$drawn" ] && [ "${#looks[@]}" -gt 0 ]; then
      e2e_same_pixels "$dir/before.xwd" "${looks[-1]}" || drawn=${#looks[@]}
    fi
    [ -n "$drawn" ] && [ "${#looks[@]}" -ge $((drawn + 8)) ] && break
    sleep 0.1
  done
  [ -n "$drawn" ] && [ "${#looks[@]}" -ge $((drawn + 8)) ] ||
    echo "e2e: $label: ${#looks[@]} looks, the saver's drawing ${drawn:+in look $drawn}${drawn:-in none}, after $i tries" >&2
  touch "$dir/stop"
  wait "$looker"
  local start summary drift n place
  start=$($E2E_CHECK looks "$dir/before.xwd" "$saver/glmire.bmp" --conversion "$conversion" "$dir"/start-*.xwd)
  grep -v ': no patch on screen$\|mismatches=0$' <<<"$start" | grep -v '^looks=' | head -5
  summary=$(tail -n 1 <<<"$start")
  echo "$label, through the start: $summary"
  e2e_check "$label: every look through the start exact" "$(sed -E 's/.*wrong=//' <<<"$summary")" 0
  e2e_check "$label: the patch shown during the start" \
    "$(sed -E 's/.*patch=([0-9]+).*/\1/' <<<"$summary" | awk '{ print ($1 > 0) ? "yes" : "no" }')" yes

  # The drift has carried the patch off its place at the end of the start, so
  # any of it left behind shows; then five looks, each at a frame of its own.
  place=$(last_patch <<<"$start")
  if [ -n "$place" ]; then
    local x0 y0 w h x y off=no
    read -r x0 y0 w h <<<"$place"
    for i in $(seq 60); do
      e2e_look "$dir/drift.xwd"
      read -r x y _ _ <<<"$($E2E_CHECK check "$dir/before.xwd" "$dir/drift.xwd" "$saver/glmire.bmp" \
        --conversion "$conversion" | last_patch)"
      [ -n "$x" ] && { [ $((x > x0 ? x - x0 : x0 - x)) -ge "$w" ] || [ $((y > y0 ? y - y0 : y0 - y)) -ge "$h" ]; } &&
        { off=yes; break; }
      # The drift takes seconds to carry the patch that far; meanwhile the
      # processors are the other tests'.
      sleep 0.5
    done
    [ "$off" = yes ] || echo "e2e: $label: the patch did not get off $x0,$y0 in $i looks (last at ${x:-none},${y:-})" >&2
  fi
  e2e_look "$dir/drift-1.xwd"
  for n in 2 3 4 5; do
    for i in $(seq 50); do
      e2e_look "$dir/drift-$n.xwd"
      e2e_same_pixels "$dir/drift-$((n - 1)).xwd" "$dir/drift-$n.xwd" || break
    done
  done
  drift=$($E2E_CHECK looks "$dir/before.xwd" "$saver/glmire.bmp" --conversion "$conversion" "$dir"/drift-*.xwd)
  summary=$(tail -n 1 <<<"$drift")
  echo "$label, after the drift: $summary"
  grep -v '^looks=' <<<"$drift" | sed 's|.*/||' | head -5
  e2e_check "$label: every look after the drift the desktop and one exact patch" \
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
  run_case "depth $depth, busy desktop, test map" "$E2E_TMP/busy.png" "$E2E_TMP/test-map"
  run_case "depth $depth, sky, the saver's own map" "$E2E_TMP/sky.png" "$E2E_TMP/own-map"
  glmire_wine_down
done

e2e_finish
