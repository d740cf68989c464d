#!/usr/bin/env bash
# The preview inside a host's pane: no reaction to input, context menus passed
# to the host, and the end when the pane goes. (Wine does not put a child
# window's drawing on screen when its parent belongs to another process, so
# the preview's picture is checked in-process by the Windows unit tests.
# Nor does it post WM_HELP across processes: it is a message that carries a
# pointer, refused with ERROR_MESSAGE_SYNC_ONLY.)
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"
e2e_saver_copy "$E2E_TMP/nomap"

# Waits until the host has printed a line with <text> since the last wait.
e2e_wait_host_line() {  # e2e_wait_host_line <host out> <text>
  local i
  for i in $(seq 100); do
    if tail -n +"$((host_lines + 1))" "$1" | grep -q "$2"; then
      host_lines=$(wc -l <"$1")
      return 0
    fi
    sleep 0.1
  done
  echo "e2e: the host printed no '$2' after $i looks" >&2
  return 1
}

# The pane is 256x192 at (700, 475) on the screen.
preview_case() {  # preview_case <name> <scr>
  local name=$1 out="$E2E_TMP/$1.host"
  host_lines=0
  e2e_start_host "$out" || { e2e_check "$name: host" missing shown; return; }
  e2e_start_saver "$2" /p "$E2E_PANE"
  # Its window in the pane is the preview running; the host looks for it.
  local i
  for i in $(seq 100); do
    echo child >&3
    e2e_wait_host_line "$out" 'child=' || break
    grep -q 'child=1' "$out" && break
    sleep 0.1
  done
  grep -q 'child=1' "$out" || echo "e2e: $name: no window of the saver's in the pane after $i looks" >&2
  e2e_check "$name: the preview runs" "$(e2e_alive "$E2E_SAVER")" yes

  e2e_forget_press 1
  e2e_forget_press 32
  # Two moves that reach Wine one after the other, a click and a key; once all
  # of it has, the saver has dealt with what was its.
  xdotool mousemove 800 560
  e2e_pointer_delivered 800 560
  xdotool mousemove 830 590 click 1 key space
  e2e_pointer_delivered 830 590
  e2e_press_delivered 1
  e2e_press_delivered 32
  e2e_settle Preview "$E2E_PANE" || e2e_wait_gone 50 "$E2E_SAVER"
  e2e_check "$name: input over the preview does nothing" "$(e2e_alive "$E2E_SAVER")" yes
  # What the saver passes on, the host has handled before a command sent after.
  echo context >&3
  e2e_wait_host_line "$out" 'pane got WM_CONTEXTMENU'
  echo child >&3
  e2e_wait_host_line "$out" 'child='
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
