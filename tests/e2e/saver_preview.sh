#!/usr/bin/env bash
# The preview inside a host's pane: no reaction to input, context menus passed
# to the host, and the end when the pane goes. (Wine does not put a child
# window's drawing on screen when its parent belongs to another process, so
# the preview's picture is checked in-process by the Windows unit tests.
# Nor does it post WM_HELP across processes: it is a message that carries a
# pointer, refused with ERROR_MESSAGE_SYNC_ONLY.)
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
$E2E_CHECK map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"
e2e_saver_copy "$E2E_TMP/nomap"

# The pane is 256x192 at (700, 475) on the screen.
preview_case() {  # preview_case <name> <scr>
  local name=$1 out="$E2E_TMP/$1.host"
  e2e_start_host "$out" || { e2e_check "$name: host" missing shown; return; }
  e2e_start_saver "$2" /p "$E2E_PANE"
  sleep 1.5
  e2e_check "$name: the preview runs" "$(e2e_alive "$E2E_SAVER")" yes

  xdotool mousemove 800 560 sleep 0.2 mousemove 830 590 click 1 key space
  sleep 0.8
  e2e_check "$name: input over the preview does nothing" "$(e2e_alive "$E2E_SAVER")" yes
  echo context >&3
  sleep 0.8
  e2e_check "$name: WM_CONTEXTMENU reaches the host" \
    "$(grep -c 'pane got WM_CONTEXTMENU wparam-is-pane=1' "$out")" 1
  echo destroy >&3
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "$name: the pane's end ends the saver, exit 0" "$E2E_RC" 0
  e2e_stop_host
}

preview_case preview "$E2E_TMP/saver/glmire.scr"
preview_case preview-no-map "$E2E_TMP/nomap/glmire.scr"

e2e_finish
