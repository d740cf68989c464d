#!/usr/bin/env bash
# The wheels and the side buttons: each closes the full-screen saver as a
# click does, and over the preview they do nothing.
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"
scr="$E2E_TMP/saver/glmire.scr"

# X's buttons as Wine hands them to the window in front: 4 and 5 the wheel,
# 6 and 7 the sideways wheel, 8 and 9 the side buttons.
for entry in "4|wheel up" "5|wheel down" "6|wheel left" "7|wheel right" "8|back button" "9|forward button"; do
  IFS='|' read -r button name <<<"$entry"
  e2e_pointer_at 512 384
  e2e_start_saver "$scr" /s
  e2e_saver_ready "$E2E_TMP/before.xwd" || { e2e_check "$name: the saver takes input" no yes; continue; }
  xdotool click "$button"
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "$name (X button $button) closes, exit 0" "$E2E_RC" 0
  # One left up would be found by the next start.
  [ "$E2E_RC" = running ] && { xdotool key space; e2e_wait_exit "$E2E_SAVER" 50; }
done

# The preview: a wheel turn and a side button over the pane. Once the button
# has reached Wine, so has the turn before it; once the preview has handled
# its input, a preview that closed on it has been given the time to end.
e2e_start_preview "$scr" "$E2E_TMP/host.out" || exit 1
e2e_forget_press 5  # VK_XBUTTON1
xdotool mousemove 830 590
e2e_pointer_delivered 830 590
xdotool click 4 click 8
e2e_press_delivered 5
e2e_settle Preview "$E2E_PANE" || e2e_wait_gone 50 "$E2E_SAVER"
e2e_check "preview: wheel and side button do nothing" "$(e2e_alive "$E2E_SAVER")" yes
echo destroy >&3
e2e_wait_exit "$E2E_SAVER" 50
e2e_check "preview: ends with its pane, exit 0" "$E2E_RC" 0
e2e_stop_host

e2e_finish
