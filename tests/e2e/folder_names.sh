#!/usr/bin/env bash
# A saver and its map in a folder named outside the ANSI code page (Cyrillic,
# then CJK, under the default code page): on the NT family the module's path
# and the map's open are the wide-character ones, so the map is found and
# drawn exactly. The ANSI path would name such a folder with '?' in it.
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64

folder_case() {  # folder_case <label> <folder name>
  local dir="$E2E_TMP/$2"
  e2e_saver_copy "$dir" "$E2E_TMP/map.bmp"
  e2e_start_saver "$dir/glmire.scr" /s
  e2e_wait_saver || { e2e_check "$1: window" missing shown; return; }
  # The failure screen is never whole (e2e_exact_frame).
  e2e_exact_frame "$dir/shot.xwd" "$dir/glmire.bmp"
  echo "$1 (look $E2E_LOOKS): $E2E_VERDICT"
  e2e_check "$1: the map beside the saver is drawn exactly" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
  xdotool key space
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "$1: closes on a key, exit 0" "$E2E_RC" 0
}

folder_case Cyrillic "Заставки"
folder_case CJK "屏幕保护"

e2e_finish
