#!/usr/bin/env bash
# A missing or unreadable map: the black window with "Cannot load glmire.bmp",
# which still closes on input; and a clean end (no "Programmer Error" box
# keeping the process) also when the window goes while the worker prepares.
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1

failure_case() {  # failure_case <name> <map or empty>
  local dir="$E2E_TMP/$1"
  e2e_saver_copy "$dir" "$2"
  e2e_start_saver "$dir/glmire.scr" /s
  e2e_wait_saver || { e2e_check "$1: window" missing shown; return; }
  e2e_check_failure_screen "$1" "$dir/shot.xwd"
  xdotool key space
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "$1: closes, exit 0" "$E2E_RC" 0
}

failure_case missing ""
/usr/bin/convert -size 64x64 gradient: -type TrueColor "BMP3:$E2E_TMP/truecolor.bmp"
failure_case truecolor "$E2E_TMP/truecolor.bmp"

# A large map (128 MB) keeps the worker preparing well past the moment X
# shows the window, so the window is destroyed while it prepares. The case
# proves that only if the move reaches the saver before its first frame: a
# look taken after X has handed the move to the saver's window still shows
# the desktop, with no patch. A try whose move came too late, or never
# reached Wine, is closed and made again.
e2e_picture map "$E2E_TMP/large.bmp" bottom-up 16384 8192
e2e_saver_copy "$E2E_TMP/large" "$E2E_TMP/large.bmp"
early=no
for try in 1 2 3 4 5; do
  e2e_park_pointer 512 384
  e2e_start_saver "$E2E_TMP/large/glmire.scr" /s
  e2e_probe wait "Screen Saver" 300 >/dev/null
  # A move reaches the window under the pointer even before it has the focus.
  e2e_x_shown "Screen Saver" && xdotool mousemove_relative -- 40 40
  e2e_look "$E2E_TMP/moved.xwd"
  # A move that Wine never queued (on a loaded machine, once) proves nothing either.
  if e2e_pointer_delivered 552 424 && e2e_same_pixels "$E2E_TMP/before.xwd" "$E2E_TMP/moved.xwd"; then
    early=yes
    break
  fi
  echo "try $try: the move came after the first frame, or never reached the saver"
  e2e_close_on_key "try $try: a late or lost move"
done
e2e_check "the move reached the saver before its first frame (try $try)" "$early" yes
if [ "$early" = yes ]; then
  e2e_wait_exit "$E2E_SAVER" 150
  e2e_check "closed while preparing: exit 0, no ledger box" "$E2E_RC" 0
fi
e2e_check "no Programmer Error box" "$(e2e_probe find "Programmer Error")" none

e2e_finish
