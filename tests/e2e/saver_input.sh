#!/usr/bin/env bash
# What closes the full-screen saver and what does not; one saver at a time;
# the title stays.
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"
scr="$E2E_TMP/saver/glmire.scr"

start() {
  e2e_pointer_at 512 384
  e2e_start_saver "$scr" /s
  e2e_saver_ready "$E2E_TMP/before.xwd" || echo "FAIL: no saver window" >&2
}

# What the saver makes of input it does not close on is done once it has
# handled that input (e2e_settle); had it closed, it is given the time to end.
kept() { e2e_settle "Screen Saver" || e2e_wait_gone 50 "$E2E_SAVER"; }

# Mouse travel: 3 right + 1 down is 4, not more than 4; one more pixel is 5.
start
xdotool mousemove_relative -- 3 1
e2e_pointer_delivered 515 385
kept
e2e_check "move of 4 keeps the saver" "$(e2e_alive "$E2E_SAVER")" yes
xdotool mousemove_relative -- 1 0
e2e_wait_exit "$E2E_SAVER" 50
e2e_check "move of 5 closes, exit 0" "$E2E_RC" 0

start
xdotool key space
e2e_wait_exit "$E2E_SAVER" 50
e2e_check "a key closes" "$E2E_RC" 0

start
xdotool click 1
e2e_wait_exit "$E2E_SAVER" 50
e2e_check "a click closes" "$E2E_RC" 0

# The releases come through Wine's input: the X server drops a release of a
# key or button that is not down before any window hears of it.
start
e2e_probe release >/dev/null
kept
e2e_check "releases alone keep the saver" "$(e2e_alive "$E2E_SAVER")" yes
e2e_check "title after WM_SETTEXT" "$(e2e_probe settext "Screen Saver" "Something else")" "0 Screen Saver"

# A second full-screen start brings the first to the front and ends with 0.
first=$E2E_SAVER
e2e_start_saver "$scr" /s
e2e_wait_exit "$E2E_SAVER" 100
e2e_check "second /s exits 0" "$E2E_RC" 0
e2e_check "first saver still runs" "$(e2e_alive "$first")" yes
e2e_check "first saver in front" "$(e2e_probe find "Screen Saver" | grep -o 'foreground=.')" foreground=1

# Another window taking the foreground is a loss of activation.
e2e_probe activate >/dev/null
e2e_wait_exit "$first" 50
e2e_check "loss of activation closes" "$E2E_RC" 0

e2e_finish
