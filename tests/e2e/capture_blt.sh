#!/usr/bin/env bash
# The screen read keeps layered windows where the system has them: Wine's
# bitblt trace of a full-screen start shows SRCCOPY | CAPTUREBLT
# (rop=40cc0020) under the default Windows version, and only the plain copy
# (rop=cc0020) where the saver is told it runs on Windows 98 or NT 4.0.
source "$(dirname "$0")/lib.sh"

dir="$E2E_TMP/saver"
e2e_saver_copy "$dir" "$GLMIRE_BIN/glmire.bmp"

trace_case() {  # trace_case <version or default> <expected rop> [rop that must not show]
  local log="$E2E_TMP/$1.log"
  [ "$1" = default ] || e2e_windows_version glmire.scr "$1"
  WINEDEBUG=trace+bitblt wine "$dir/glmire.scr" /s </dev/null >/dev/null 2>"$log" &
  E2E_SAVER=$!
  e2e_track "$E2E_SAVER"
  # The screen is read while the window is created, so it is in the log
  # once the window is there.
  e2e_wait_saver || { e2e_check "$1: window" missing shown; return; }
  e2e_close_on_key "$1"
  # The screen read is the blit hundreds of pixels wide (icons are 16 or 32).
  e2e_check "$1: a screen read with rop=$2" \
    "$(grep -cE "src \S+ log=[0-9]+,[0-9]+ [0-9]{3,}x[0-9]+ .*rop=$2\b" "$log" | awk '{ print ($1 > 0) ? "yes" : "no" }')" yes
  [ -z "${3:-}" ] || e2e_check "$1: none with rop=$3" "$(grep -c "rop=$3\b" "$log")" 0
}

trace_case default 40cc0020
trace_case win98 cc0020 40cc0020
trace_case nt40 cc0020 40cc0020

e2e_finish
