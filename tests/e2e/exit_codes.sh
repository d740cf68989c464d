#!/usr/bin/env bash
# The exit codes of the real glmire.scr for tails that must be refused, and the
# cut of a quoted program name with blanks.
source "$(dirname "$0")/lib.sh"

scr=$(e2e_winpath "$GLMIRE_BIN/glmire.scr")
refused=(
  "/p 0"
  "/p"
  "/p abc"
  "/p 4000000000"
  "/l 12345678"
  "/x"
  "/9"
  "/a"   # NT family: no saver password to change
  "-	s" # a tab before the switch
)
for tail in "${refused[@]}"; do
  e2e_check "tail '$tail'" "$(e2e_exit_code "$scr $tail")" -1
done

# On the 9x family /a is accepted (exit 0), which tells where the tail began.
mkdir -p "$E2E_TMP/dir with blanks"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/dir with blanks/glmire9x.scr"
e2e_windows_version glmire9x.scr win98
quoted="\"$(e2e_winpath "$E2E_TMP/dir with blanks")\\glmire9x.scr\""
e2e_check "quoted name, /a on 9x" "$(e2e_exit_code "$quoted   /a")" 0
e2e_check "quoted name, /x on 9x" "$(e2e_exit_code "$quoted /x")" -1
e2e_check "quoted name, tab /a on 9x" "$(e2e_exit_code "$quoted	-a")" 0

e2e_finish
