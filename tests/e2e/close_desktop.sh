#!/usr/bin/env bash
# A move of 10 px, a key and a click each end the full-screen saver, and the
# screen then becomes the desktop exactly as it was before the start: under
# the display's window manager, or with "bare" on a bare X server, where Wine
# makes do without one.
#   close_desktop.sh [bare]
[ "${1:-}" = bare ] && export GLMIRE_WM=none
source "$(dirname "$0")/lib.sh"

if [ "${1:-}" = bare ]; then setting="bare server" manager=no; else setting="window manager" manager=yes; fi
e2e_check "$setting: a manager on the display" "$(glmire_wm_ready && echo yes || echo no)" "$manager"

e2e_test_desktop || exit 1
e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"

inputs=(
  "a move of 10 px|mousemove_relative -- 10 0"
  "a key|key space"
  "a click|click 1"
)
for entry in "${inputs[@]}"; do
  name="$setting, ${entry%%|*}"
  read -r -a input <<<"${entry#*|}"
  xdotool mousemove 512 384
  e2e_start_saver "$E2E_TMP/saver/glmire.scr" /s
  e2e_wait_saver || { e2e_check "$name: window" missing shown; continue; }
  # The saver is up and drawing: the screen is no longer the desktop.
  e2e_exact_frame "$E2E_TMP/shot.xwd" "$E2E_TMP/map.bmp"
  e2e_check "$name: the saver drew before the input" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
  xdotool "${input[@]}"
  e2e_wait_exit "$E2E_SAVER" 100
  e2e_check "$name: the saver ends, exit 0" "$E2E_RC" 0
  e2e_desktop_back "$E2E_TMP/before.xwd" "$E2E_TMP/after.xwd"
  e2e_check "$name: the desktop exactly as before the start" "$E2E_BACK" yes
  [ "$E2E_BACK" = yes ] || echo "$name: $E2E_DIFFERENT pixels differ after $E2E_LOOKS looks"
done

e2e_finish
