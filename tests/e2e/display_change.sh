#!/usr/bin/env bash
# Display changes under the full-screen saver. Xvfb's screen keeps its size,
# so the saver runs in a Wine virtual desktop of 800x600, and winprobe, in the
# same desktop, sets the mode as a program would (Wine then resizes the
# desktop and tells every window, also when the mode is the one it has).
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/host_lib.sh"

mkdir -p "$E2E_TMP/saver"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/saver/modent.scr"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/saver/mode9x.scr"
cp "$GLMIRE_BIN/glmire.bmp" "$E2E_TMP/saver/"
e2e_windows_version mode9x.scr win98
probe=$(e2e_winpath "$GLMIRE_TOOLS/winprobe.exe")
launch=$(e2e_winpath "$GLMIRE_TOOLS/launch.exe")
code="$E2E_TMP/code"
log="$E2E_TMP/stub.log"
export GLMIRE_STUB_LOG="$(e2e_winpath "$E2E_TMP")\\stub.log"
export GLMIRE_STUB_ANSWER="$(e2e_winpath "$E2E_TMP")\\answer"

# winprobe inside the desktop of this case, which must be up: the explorer
# that makes a desktop stays as long as the desktop does.
inside() { wine explorer "/desktop=$desktop" "$probe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# Starts <saver> /s in a new 800x600 desktop; its exit code lands in $code
# (launch.exe's line: the desktop's explorer keeps the file open).
start() {  # start <saver> <desktop>
  local i
  desktop=$2
  rm -f "$code" "$log"
  LAUNCH_COMMAND_LINE="$(e2e_winpath "$E2E_TMP/saver/$1") /s" \
    wine explorer "/desktop=$desktop,800x600" "$launch" </dev/null >"$code" 2>/dev/null &
  e2e_track $!
  for i in $(seq 100); do
    xdotool search --onlyvisible --name "^$desktop - Wine desktop\$" >/dev/null 2>&1 && break
    sleep 0.1
  done
  case $(inside wait "Screen Saver" 300 front) in
    *foreground=1*) ;;
    *) e2e_check "$1: the saver in front" no yes; return 1 ;;
  esac
  e2e_check "$1: covers the screen" "$(inside rect "Screen Saver")" "0,0 800x600"
}
exit_code() { [ -s "$code" ] && tr -d '\r\n' <"$code" || echo running; }
wait_exit_code() { e2e_wait_code "$code" "$1" >/dev/null; exit_code; }  # wait_exit_code <tenths>

# The NT family: the mode the screen has changes nothing (once the saver has
# handled what the change sent it, a close it posted has been handled too);
# a new size ends the saver.
if start modent.scr glmire-nt; then
  e2e_check "same mode: set" "$(inside mode 800 600)" "mode=0 screen=800x600"
  inside settle "Screen Saver" >/dev/null
  e2e_check "same mode: the saver stays" "$(exit_code)" running
  e2e_check "new size: set" "$(inside mode 1024 768)" "mode=0 screen=1024x768"
  e2e_check "new size: ends within 3 s, exit 0" "$(wait_exit_code 30)" 0
  # One left up would hold off the next start.
  [ "$(exit_code)" = running ] && inside activate >/dev/null && wait_exit_code 50 >/dev/null
fi

# The 9x family with passwords on: the verifier refuses, and the saver that
# stays covers the whole new screen.
e2e_use_password REG_DWORD 1
e2e_plant_system_file "$GLMIRE_TOOLS/verify_stub.dll" PASSWORD.CPL
printf 0 >"$E2E_TMP/answer"
if start mode9x.scr glmire-9x; then
  e2e_check "9x: new size set" "$(inside mode 1024 768)" "mode=0 screen=1024x768"
  e2e_wait_lines "$log" 2 100 >/dev/null
  inside settle "Screen Saver" >/dev/null
  e2e_check "9x: the verifier refused" "$(grep -c 'answer=0' "$log" 2>/dev/null)" 1
  e2e_check "9x: kept up over the new screen" "$(exit_code) $(inside rect "Screen Saver")" "running 0,0 1024x768"
  # Let through on the next close request: another window taking the front.
  printf 1 >"$E2E_TMP/answer"
  inside activate >/dev/null
  e2e_check "9x: then closes, exit 0" "$(wait_exit_code 100)" 0
fi

e2e_finish
