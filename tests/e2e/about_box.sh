#!/usr/bin/env bash
# The about box of the real glmire.scr: its owner, its text, its hidden button,
# and what ends it (OK, Enter, the close box) and what does not (Escape).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/host_lib.sh"

scr=$(e2e_winpath "$GLMIRE_BIN/glmire.scr")
caption="About Glowmire Screensaver"
code="$E2E_TMP/code"
text="$E2E_TMP/about.txt"
dialog=""  # the probe's line about the open box

# Starts the saver with <tail> and waits for its box, shown by X with the
# input focus: the keys sent to it go where X has the focus.
open_box() {
  e2e_launch "$code" "" "$scr$1"
  rm -f "$text"
  dialog=$(e2e_hostprobe dialog "$caption" 20000 "$(e2e_winpath "$E2E_TMP")\\about.txt")
  [ "$(e2e_field "$dialog" window)" != 0 ] && e2e_x_shown "$caption" focus && return 0
  echo "FAIL: no about box for '$1' (exit code $(e2e_wait_code "$code" 1))"
  return 1
}

# The click comes once the move to that point has reached Wine.
click() {  # click <x,y>
  xdotool mousemove "${1%,*}" "${1#*,}"
  e2e_pointer_delivered "${1%,*}" "${1#*,}"
  xdotool click 1
}

# --- empty tail: no owner; the text; Escape does nothing; OK ends it with 0 ---
open_box "" || exit 1
e2e_check "empty tail: owner" "$(e2e_field "$dialog" owner)" 0
e2e_check "&Test is hidden" "$(e2e_field "$dialog" test)" 0
e2e_check "OK has the focus" "$(e2e_field "$dialog" focus)" 1
e2e_check "the whole text was read" "$(stat -c %s "$text")" "$(e2e_field "$dialog" length)"

# Every line ends in CR LF; parts are split by empty lines.
e2e_check "no line end without CR" "$(tr -d '\r' <"$text" | wc -l)" "$(grep -c $'\r$' "$text")"
e2e_check "no CR without LF" "$(tr -cd '\r' <"$text" | wc -c)" "$(tr -cd '\n' <"$text" | wc -c)"
mapfile -t lines < <(tr -d '\r' <"$text"; echo)
parts=()
part=""
for line in "${lines[@]}"; do
  if [ -z "$line" ]; then
    [ -n "$part" ] && parts+=("$part")
    part=""
  else
    part+="${part:+|}$line"
  fi
done
[ -n "$part" ] && parts+=("$part")
e2e_check "number of parts" "${#parts[@]}" 5
IFS='|' read -r -a title <<<"${parts[0]}"
e2e_check "title line" "${title[0]}" "Glowmire Screensaver 1.0"
e2e_check "title block has contact lines" "$((${#title[@]} >= 3))" 1
e2e_check "last title line" "${title[-1]}" "Last modified: Nov 12, 1997"
e2e_check "video mode sentence" "${parts[1]}" \
  "This screensaver runs only in high-color or true-color video modes, it does NOT work properly in a 256-color mode."
e2e_check "picture rule: one paragraph on medium gray" \
  "$(grep -c '256-color BMP.*medium gray (128).*(0).*(255)' <<<"${parts[2]}")" 1
e2e_check "file paragraph: one paragraph on the file" \
  "$(grep -c 'GLMIRE\.BMP.*same directory as GLMIRE\.SCR' <<<"${parts[3]}")" 1
e2e_check "rules" "${parts[4]}" \
  "1. The file name must be GLMIRE.BMP.|2. It must be a 256-color BMP.|3. Its width must be a multiple of 4.|4. Its minimum size is 64x64."

xdotool mousemove 600 400
e2e_forget_press 27
xdotool key Escape
e2e_press_delivered 27
e2e_settle "$caption"
e2e_check "Escape leaves the box open" "$(e2e_hostprobe exists "$(e2e_field "$dialog" window)")" 1
click "$(e2e_field "$dialog" ok)"
e2e_check "OK: exit code" "$(e2e_wait_code "$code" 150)" 0

# --- /c: owned by the foreground window; Enter ends it with 0 ---
wine "$GLMIRE_TOOLS/hostprobe.exe" owner 60000 </dev/null >"$E2E_TMP/owner" 2>/dev/null &
e2e_track $!
for _ in $(seq 100); do [ -s "$E2E_TMP/owner" ] && break; sleep 0.1; done
[ -s "$E2E_TMP/owner" ] || echo "e2e: the test's own window did not show in 100 looks" >&2
owner=$(tr -d '\r\n' <"$E2E_TMP/owner")
e2e_check "the test's window is in front" "$(e2e_hostprobe foreground)" "$owner"
open_box " /c" || exit 1
e2e_check "/c: owner" "$(e2e_field "$dialog" owner)" "$owner"
xdotool mousemove 600 400
xdotool key Return
e2e_check "Enter: exit code" "$(e2e_wait_code "$code" 150)" 0
e2e_hostprobe close "$owner"
for _ in $(seq 50); do [ "$(e2e_hostprobe exists "$owner")" = 0 ] && break; sleep 0.1; done
[ "$(e2e_hostprobe exists "$owner")" = 0 ] || echo "e2e: the test's own window still there after 50 looks" >&2

# --- the caption's close box ends it with 0 ---
mkdir -p "$E2E_TMP/framed"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/framed/glmireab.scr"
e2e_wine_frames glmireab.scr
scr=$(e2e_winpath "$E2E_TMP/framed/glmireab.scr")
open_box " -C" || exit 1
click "$(e2e_field "$dialog" close)"
e2e_check "close box: exit code" "$(e2e_wait_code "$code" 150)" 0

e2e_finish
