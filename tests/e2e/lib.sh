# Shared pieces of the end-to-end tests: the build tree's Wine, the programs a
# test starts (all stopped again by their ids), checks and the closing count.
set -u
source "$GLMIRE_SOURCE/scripts/wine-env.sh"
# Scripts registered through glmire_e2e run side by side, each on an X display
# and a copy of the tree's prefix of its own (GLMIRE_E2E_PRIVATE names it).
# A script that sets up its display itself sets E2E_DEFER_UP=1 before sourcing
# this and brings it up with glmire_wine_up (or glmire_display_up and
# glmire_server_up) when ready.
if [ -n "${GLMIRE_E2E_PRIVATE:-}" ]; then
  glmire_private_root "$GLMIRE_E2E_PRIVATE" || { echo "e2e: no private Wine environment" >&2; exit 1; }
fi
if [ -z "${E2E_DEFER_UP:-}" ]; then
  glmire_wine_up || { echo "e2e: Wine environment not available" >&2; glmire_private_end; exit 1; }
fi

# A WoW64 case that ran in a 32-bit prefix would prove nothing of 64-bit Windows.
if [ -n "${GLMIRE_E2E_WOW64:-}" ] && ! grep -qx '#arch=win64' "$WINEPREFIX/system.reg"; then
  echo "e2e: $WINEPREFIX is no win64 prefix: this WoW64 case cannot run in it" >&2
  glmire_private_end
  exit 1
fi

E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/glmire-e2e.XXXXXX")
E2E_PIDS=()
E2E_PASSED=0
E2E_FAILED=0

# Whether a process runs: one that has ended but was not yet reaped is not.
e2e_running() { kill -0 "$1" 2>/dev/null && ! grep -qs '^State:[[:space:]]*Z' "/proc/$1/status"; }

# Waits until none of the given processes runs; 1 if some still do after
# <tenths of a second>.
e2e_wait_gone() {  # e2e_wait_gone <tenths of a second> <pid...>
  local tenths=$1 i pid left
  shift
  for i in $(seq "$tenths"); do
    left=0
    for pid in "$@"; do e2e_running "$pid" && { left=1; break; }; done
    [ "$left" = 0 ] && return 0
    sleep 0.1
  done
  return 1
}

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  # Wine's processes end on TERM once they get to it; what is still there
  # after a few seconds is beyond that.
  if ! e2e_wait_gone 50 "${E2E_PIDS[@]}"; then
    echo "e2e: still running 5 s after TERM, killed:$(for pid in "${E2E_PIDS[@]}"; do
      e2e_running "$pid" && printf ' %s' "$pid"; done)" >&2
  fi
  for pid in "${E2E_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null; done
  rm -rf "$E2E_TMP"
  glmire_private_end
}
trap e2e_cleanup EXIT

# Remembers a background process so that it is stopped when the test ends.
e2e_track() { E2E_PIDS+=("$1"); }

# The Windows form of a Unix path, through Wine's Z: drive.
e2e_winpath() {
  local p
  p=$(readlink -f "$1")
  p=${p//\//\\}
  echo "Z:$p"
}

# Runs an exact Windows command line and prints the full 32-bit exit code;
# a second argument is the Windows folder to run it in.
e2e_exit_code() {
  LAUNCH_COMMAND_LINE=$1 LAUNCH_DIRECTORY=${2:-} e2e_answer "$GLMIRE_TOOLS/launch.exe"
}

e2e_check() {  # e2e_check <what> <actual> <expected>
  if [ "$2" = "$3" ]; then
    E2E_PASSED=$((E2E_PASSED + 1))
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    echo "FAIL: $1: got '$2', expected '$3'"
  fi
}

# Sets the Windows version Wine reports to one executable name (e.g. win98).
e2e_windows_version() {
  e2e_answer reg add "HKCU\\Software\\Wine\\AppDefaults\\$1" /v Version /d "$2" /f >/dev/null
}

e2e_finish() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ]
}

# --- the running saver, the screen and input ---

E2E_CHECK="/usr/bin/python3 $GLMIRE_SOURCE/tests/e2e/frame_check.py"

# The server's pixels into <out.xwd>. xwd walks the window tree when windows
# of other visuals are up (Wine's, at depth 16), and gives up with BadWindow
# when one of them goes away meanwhile, as the window manager's frames and
# Wine's own windows do at any time: such a look says nothing of the screen,
# so it is taken again.
e2e_look() {  # e2e_look <out.xwd>
  local i
  for i in 1 2 3 4 5; do
    xwd -root -silent >"$1" 2>"$1.err" && [ -s "$1" ] && { rm -f "$1.err"; return 0; }
  done
  echo "e2e: no look at the screen after $i tries: $(head -1 "$1.err")" >&2
  rm -f "$1.err"
  return 1
}

# Where an xwd dump's pixels start: after its header and its colormap.
e2e_xwd_pixels_at() {  # e2e_xwd_pixels_at <look.xwd>
  local fields
  read -r -a fields < <(od -An -tu4 --endian=big -w80 -N80 "$1")
  echo $((fields[0] + 12 * fields[19]))
}

# 0 when two looks at the same server hold the same pixels. Their headers may
# differ all the same (the colormaps of Wine's windows, at depth 16).
e2e_same_pixels() {  # e2e_same_pixels <a.xwd> <b.xwd>
  cmp -s "$1" "$2" && return 0
  local a b
  a=$(e2e_xwd_pixels_at "$1") b=$(e2e_xwd_pixels_at "$2")
  [ $(($(stat -c %s "$1") - a)) -eq $(($(stat -c %s "$2") - b)) ] && cmp -s -i "$a:$b" "$1" "$2"
}

# Shows a picture full screen in a real X window: Wine's screen capture sees
# windows, not the root background.
e2e_show_desktop() {  # e2e_show_desktop <picture>
  feh --fullscreen --hide-pointer --no-menus "$1" >/dev/null 2>&1 &
  e2e_track $!
  e2e_wait_feh "$1"
}

# The desktop pictures and maps frame_check.py writes are the same for every
# test of a tree: each is made once, in the tree's GLMIRE_E2E_PICTURES, and
# copied from there (the name holds frame_check.py's time, so an edited one
# makes them anew).
e2e_picture() {  # e2e_picture desktop|map <out> <frame_check arguments...>
  local kind=$1 out=$2 key made
  shift 2
  [ -n "${GLMIRE_E2E_PICTURES:-}" ] || { $E2E_CHECK "$kind" "$out" "$@"; return; }
  printf -v key '%s-' "$kind" "$@"
  made="$GLMIRE_E2E_PICTURES/$key$(stat -c %Y "$GLMIRE_SOURCE/tests/e2e/frame_check.py")"
  if [ ! -s "$made.${out##*.}" ]; then
    mkdir -p "$GLMIRE_E2E_PICTURES"
    # Made aside and moved in whole: another test may want the same one now.
    $E2E_CHECK "$kind" "$made.$$.${out##*.}" "$@" && mv -f "$made.$$.${out##*.}" "$made.${out##*.}" ||
      { rm -f "$made.$$.${out##*.}"; return 1; }
  fi
  cp "$made.${out##*.}" "$out"
}

# e2e_learn_conversion <out.json>: how this display's pixels read back and
# are shown, for frame_check.py (conversion.sh).
source "$GLMIRE_SOURCE/tests/e2e/conversion.sh"
e2e_learn_conversion() { glmire_learn_conversion "$GLMIRE_TOOLS/winprobe.exe" "$E2E_TMP/conversion" "$1"; }

# Waits for the picture viewer's window to be shown and painted: the screen is
# <picture> then, each pixel within what a 16-bit display makes of its colour
# (5 bits a channel, give or take a step where the viewer dithers). A window
# not yet painted, or painted in part, is far from it.
e2e_wait_feh() {  # e2e_wait_feh <picture shown over the whole screen>
  local i off=""
  for i in $(seq 100); do
    xdotool search --onlyvisible --class feh >/dev/null 2>&1 && break
    sleep 0.1
  done
  for i in $(seq 100); do
    e2e_look "$E2E_TMP/feh.xwd"
    off=$(/usr/bin/compare -metric AE -fuzz 7% "$1" "xwd:$E2E_TMP/feh.xwd" null: 2>&1)
    [ "$off" = 0 ] && { rm -f "$E2E_TMP/feh.xwd"; return 0; }
    sleep 0.1
  done
  echo "e2e: the desktop picture did not show: after $i looks $off pixels off it" >&2
  return 1
}

# Moves the pointer and waits until X has it there.
e2e_park_pointer() {  # e2e_park_pointer <x> <y>
  local i
  xdotool mousemove "$1" "$2"
  for i in $(seq 50); do
    xdotool getmouselocation 2>/dev/null | grep -q "^x:$1 y:$2 " && return 0
    sleep 0.1
  done
  echo "e2e: the pointer did not get to $1,$2: $(xdotool getmouselocation 2>&1)" >&2
  return 1
}

# The test desktop: a busy picture shown full screen, the pointer parked in a
# corner, and the screen as it then is in $E2E_TMP/before.xwd.
e2e_test_desktop() {
  e2e_picture desktop "$E2E_TMP/desktop.png" 1024 768
  e2e_show_desktop "$E2E_TMP/desktop.png" || return 1
  e2e_park_pointer 1000 10
  e2e_look "$E2E_TMP/before.xwd"
}

# frame_check.py's verdict on a look at the test desktop ($E2E_TMP/before.xwd)
# with <map>'s patch, in E2E_VERDICT; the desktop as it was needs no check to
# tell. One frame_check.py serves the looks at one desktop with one map (a
# test may take dozens), on a pipe.
e2e_verdict() {  # e2e_verdict <shot.xwd> <map>
  if e2e_same_pixels "$E2E_TMP/before.xwd" "$1"; then
    E2E_VERDICT="no patch on screen"
    return
  fi
  local checking
  checking="$2 $(stat -c %Y.%s "$E2E_TMP/before.xwd")"
  if [ "${E2E_CHECKING:-}" != "$checking" ] || ! kill -0 "${E2E_CHECKER_PID:-none}" 2>/dev/null; then
    e2e_checker_end
    coproc E2E_CHECKER { exec $E2E_CHECK serve "$E2E_TMP/before.xwd" "$2"; }
    E2E_CHECKING=$checking
    e2e_track "$E2E_CHECKER_PID"
  fi
  E2E_VERDICT="frame_check.py gave no verdict"
  echo "$1" >&"${E2E_CHECKER[1]}" && read -r -t 120 E2E_VERDICT <&"${E2E_CHECKER[0]}"
}
e2e_checker_end() {
  [ -n "${E2E_CHECKER_PID:-}" ] || return 0
  [ -z "${E2E_CHECKER[1]:-}" ] || eval "exec ${E2E_CHECKER[1]}>&-"
  wait "$E2E_CHECKER_PID" 2>/dev/null
  E2E_CHECKER_PID="" E2E_CHECKING=""
}

# Screenshots until one is a whole, exact frame of <map> over the test
# desktop: the first frame comes once the worker has prepared, and Wine may
# put a frame on the X screen in more than one step. A wrong picture is never
# whole. It gives up after 10 looks and <seconds> (20 by default), whichever
# comes later: on a loaded machine one look may take seconds. E2E_VERDICT is
# the last verdict, E2E_LOOKS the number of screenshots taken.
e2e_exact_frame() {  # e2e_exact_frame <shot.xwd> <map> [seconds]
  local deadline=$((SECONDS + ${3:-20}))
  E2E_LOOKS=0
  while :; do
    E2E_LOOKS=$((E2E_LOOKS + 1))
    e2e_look "$1"
    # A screen the check cannot make sense of (say, before the first frame)
    # is one more look; its complaint is the verdict if no look is exact.
    e2e_verdict "$1" "$2"
    grep -q 'mismatches=0$' <<<"$E2E_VERDICT" && return 0
    [ "$E2E_LOOKS" -lt 10 ] || [ "$SECONDS" -lt "$deadline" ] || return 1
  done
}

# Screenshots until one is <before> exactly, for 10 looks or <seconds> (10 by
# default), whichever comes later: a window that is gone is painted over by
# the one beneath when that gets to it. E2E_BACK is yes or no,
# E2E_DIFFERENT the pixels the last look had otherwise, E2E_LOOKS the looks taken.
e2e_desktop_back() {  # e2e_desktop_back <before.xwd> <shot.xwd> [seconds]
  local deadline=$((SECONDS + ${3:-10}))
  E2E_LOOKS=0 E2E_BACK=no E2E_DIFFERENT=0
  while :; do
    E2E_LOOKS=$((E2E_LOOKS + 1))
    e2e_look "$2"
    e2e_same_pixels "$1" "$2" && { E2E_BACK=yes; return 0; }
    [ "$E2E_LOOKS" -lt 10 ] || [ "$SECONDS" -lt "$deadline" ] || break
  done
  E2E_DIFFERENT=$(/usr/bin/compare -metric AE "xwd:$1" "xwd:$2" null: 2>&1)
  return 1
}

# Screenshots until one differs from <from.xwd>: the saver has drawn (over the
# desktop it started on), or drawn again. For 10 looks or <seconds> (10 by
# default), whichever comes later; E2E_LOOKS the looks taken.
e2e_screen_changed() {  # e2e_screen_changed <from.xwd> <shot.xwd> [seconds]
  local deadline=$((SECONDS + ${3:-10}))
  E2E_LOOKS=0
  while :; do
    E2E_LOOKS=$((E2E_LOOKS + 1))
    e2e_look "$2"
    e2e_same_pixels "$1" "$2" || return 0
    [ "$E2E_LOOKS" -lt 10 ] || [ "$SECONDS" -lt "$deadline" ] || break
  done
  echo "e2e: the screen stayed as in $(basename "$1") for $E2E_LOOKS looks" >&2
  return 1
}

# Waits for a frame drawn from now on: a look now, then looks until the screen
# differs from it (e2e_screen_changed).
e2e_next_frame() {  # e2e_next_frame [seconds]
  e2e_look "$E2E_TMP/now.xwd" && e2e_screen_changed "$E2E_TMP/now.xwd" "$E2E_TMP/next.xwd" "$@"
}

# A copy of the saver in its own folder, with the given map beside it (or none).
e2e_saver_copy() {  # e2e_saver_copy <dir> [map.bmp]
  mkdir -p "$1"
  cp "$GLMIRE_BIN/glmire.scr" "$1/glmire.scr"
  [ -n "${2:-}" ] && cp "$2" "$1/glmire.bmp"
  return 0
}

# Starts a saver in the background; its pid is in E2E_SAVER. E2E_ADDRESS_LIMIT_KB,
# when set, caps its address space (ulimit -v).
e2e_start_saver() {  # e2e_start_saver <scr> <switches...>
  local scr=$1
  shift
  (
    [ -n "${E2E_ADDRESS_LIMIT_KB:-}" ] && ulimit -v "$E2E_ADDRESS_LIMIT_KB"
    exec wine "$scr" "$@" </dev/null >/dev/null 2>&1
  ) &
  E2E_SAVER=$!
  e2e_track "$E2E_SAVER"
}

# Waits until X shows the top-level window <title> (mapped and viewable) and,
# with "focus", sends it the keys; some 10 s at most. Wine makes a window
# before X maps it: a move, click or key sent in that gap goes to whatever X
# window was there, and the window never hears of it. Keys go to the window
# with the input focus, or on a bare X server, where nobody sets it
# (PointerRoot, 1), to the window under the pointer, as a full-screen one is.
# E2E_X_WINDOW is its X window.
e2e_x_shown() {  # e2e_x_shown <title> [focus]
  local i focus=""
  E2E_X_WINDOW=""
  for i in $(seq 200); do
    E2E_X_WINDOW=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    if [ -n "$E2E_X_WINDOW" ]; then
      [ -z "${2:-}" ] && return 0
      focus=$(xdotool getwindowfocus 2>/dev/null || xdotool getwindowfocus -f 2>/dev/null)
      [ "$focus" = "$E2E_X_WINDOW" ] || [ "$focus" = 1 ] && return 0
    fi
    sleep 0.05
  done
  echo "e2e: X does not show '$1'${2:+ with the input focus} after $i looks: X window '$E2E_X_WINDOW', focus '$focus'" >&2
  return 1
}

# Waits until the full-screen saver takes input as a user's would reach it:
# Wine has its window in front and X shows that window with the input focus.
e2e_wait_saver() {  # e2e_wait_saver [tenths of a second, 30 s by default]
  local found
  found=$(e2e_probe wait "Screen Saver" "${1:-300}" front)
  case $found in
    *foreground=1*) e2e_x_shown "Screen Saver" focus ;;
    *)
      echo "e2e: the saver did not come to the front: '$found'; its process" \
        "$(e2e_running "${E2E_SAVER:-none}" && echo "still runs" || echo "has ended")" >&2
      return 1
      ;;
  esac
}

# e2e_wait_saver and, with <before.xwd> (the desktop it started on), until it
# has drawn its first frame.
e2e_saver_ready() {  # e2e_saver_ready [before.xwd]
  e2e_wait_saver || return 1
  [ -z "${1:-}" ] || e2e_screen_changed "$1" "$E2E_TMP/first.xwd" 20
}

# Waits until winprobe's <command...> answers "<name>=1"; says what it last
# answered if that does not come within 100 looks.
e2e_wait_probe() {  # e2e_wait_probe <what is awaited> <winprobe command...>
  local what=$1 i answer=""
  shift
  for i in $(seq 100); do
    answer=$(e2e_probe "$@")
    [ "${answer##*=}" = 1 ] && return 0
    sleep 0.1
  done
  echo "e2e: $what: winprobe $* still answers '$answer' after $i looks" >&2
  return 1
}

# Waits until Wine has queued the pointer's move to <x>,<y> for the window
# beneath it: X's pointer is there at once, the window's thread hears of it
# when it reads its X events.
e2e_pointer_delivered() {  # e2e_pointer_delivered <x> <y>
  e2e_wait_probe "the move to $1,$2 reaching Wine" moved "$1" "$2"
}

# The system marks a key or button that went down until it is asked about it:
# e2e_forget_press asks once before the press, e2e_press_delivered waits for
# the mark of the press that follows.
e2e_forget_press() { e2e_probe pressed "$1" >/dev/null; }  # e2e_forget_press <virtual key>
e2e_press_delivered() {  # e2e_press_delivered <virtual key>
  e2e_wait_probe "virtual key $1 going down in Wine" pressed "$1"
}

# Once input has been queued for a window (see above), lets the window's
# thread get through it (winprobe settle): what the window does about that
# input it has then done. 1, and why, when the window went away meanwhile.
e2e_settle() {  # e2e_settle <title> [parent handle]
  local answer
  answer=$(e2e_probe settle "$@")
  [ "$answer" = settled=8 ] && return 0
  echo "e2e: '$1' went away while it was handling its input ($answer)" >&2
  return 1
}

# Waits for a background process of this shell (not from a $(...) subshell,
# which cannot wait for it); E2E_RC is its exit status, or "running".
e2e_wait_exit() {  # e2e_wait_exit <pid> [tenths of a second]
  local i
  E2E_RC=running
  for i in $(seq "${2:-50}"); do
    if ! kill -0 "$1" 2>/dev/null; then
      wait "$1"
      E2E_RC=$?
      return 0
    fi
    sleep 0.1
  done
  echo "e2e: process $1 still runs after $i looks" >&2
  return 1
}

e2e_alive() { kill -0 "$1" 2>/dev/null && echo yes || echo no; }

# A key until the saver started last has ended, five at most: a saver still
# up would be found by the next start, which then only brings it to the front.
e2e_close_on_key() {  # e2e_close_on_key <case>
  local i
  for i in 1 2 3 4 5; do
    xdotool key space
    e2e_wait_exit "$E2E_SAVER" 30
    [ "$E2E_RC" = running ] || break
  done
  e2e_check "$1: closes on a key, exit 0" "$E2E_RC" 0
}

# Runs a Windows program that always answers with a line (winprobe, launch,
# reg) and prints that answer. None at all means the program did not get to
# run (seen under wine64 and WoW64 on a busy machine), which says nothing
# about the saver: it is run again, three times at most.
e2e_answer() {  # e2e_answer <program> [arguments...]
  local out try
  for try in 1 2 3; do
    out=$(wine "$@" </dev/null | tr -d '\r')
    [ -n "$out" ] && break
    echo "${1##*/} ${2:-}: no answer (try $try)" >&2
  done
  printf '%s\n' "$out"
}
e2e_probe() { e2e_answer "$GLMIRE_TOOLS/winprobe.exe" "$@"; }

# Puts the pointer at <x>,<y> for a check of small moves. Wine keeps its own
# idea of where the cursor is, learns of the pointer's moves only over its own
# windows, and under a window manager may add a full-screen window's first raw
# motion to that stale idea; placing it through Wine makes both agree.
e2e_pointer_at() {  # e2e_pointer_at <x> <y>
  xdotool mousemove "$1" "$2"
  e2e_check "pointer placed through Wine" "$(e2e_probe cursor "$1" "$2")" "cursor=$1,$2"
}

# Nothing of a saver may outlive its run: no window, no ledger box (which
# would also keep the process), no saver process and no crash handler.
e2e_nothing_left() {  # e2e_nothing_left <case>
  local left
  mapfile -t left < <(e2e_probe find "Screen Saver" -- find "Programmer Error" -- \
    processes glmire.scr -- processes winedbg.exe)
  e2e_check "$1: no saver window" "${left[0]:-}" none
  e2e_check "$1: no Programmer Error box" "${left[1]:-}" none
  e2e_check "$1: no saver process" "${left[2]:-}" 0
  e2e_check "$1: no crash handler" "${left[3]:-}" 0
}

# Starts winprobe's preview host; its pane's handle lands in E2E_PANE, what
# it prints in <out>, and fd 3 takes its commands (see winprobe.cpp).
e2e_start_host() {  # e2e_start_host <out>
  local i
  [ -p "$E2E_TMP/commands" ] || mkfifo "$E2E_TMP/commands"
  wine "$GLMIRE_TOOLS/winprobe.exe" host <"$E2E_TMP/commands" >"$1" 2>/dev/null &
  e2e_track $!
  exec 3>"$E2E_TMP/commands"
  E2E_PANE=""
  for i in $(seq 100); do
    E2E_PANE=$(head -n 1 "$1" 2>/dev/null | tr -d '\r')
    [ -n "$E2E_PANE" ] && return 0
    sleep 0.1
  done
  echo "e2e: the preview host named no pane after $i looks" >&2
  return 1
}

# Ends the preview host started last.
e2e_stop_host() {
  echo quit >&3
  exec 3>&-
}

# The saver's failure screen: black all over but for the failure text at the
# top-left. Screenshots are taken until it shows, for some 15 s at most: on
# a busy machine the worker may get to the failure late.
e2e_check_failure_screen() {  # e2e_check_failure_screen <case> <screenshot>
  local screen text black shown i
  for i in $(seq 20); do
    e2e_look "$2"
    { read -r screen; read -r text; } < <($E2E_CHECK dark "$2" 0 20 1024 748 0 0 200 16)
    black=$(awk -v d="$screen" 'BEGIN { print (d > 0.99) ? "yes" : "no" }')
    shown=$(awk -v d="$text" 'BEGIN { print (d < 0.97) ? "yes" : "no" }')
    [ "$black$shown" = yesyes ] && break
    sleep 0.5
  done
  echo "$1: black share of the screen $screen, of the text line $text"
  e2e_check "$1: black screen" "$black" yes
  e2e_check "$1: failure text" "$shown" yes
}

# --- the preview host with the saver in its pane ---

# Starts the preview host (e2e_start_host: pane in E2E_PANE, its process in
# E2E_HOST, what it prints in <out>) and <scr> /p in the pane (E2E_SAVER);
# waits until the saver's window is in the pane.
e2e_start_preview() {  # e2e_start_preview <scr> <host out>
  local i
  e2e_start_host "$2" || return 1
  E2E_HOST=${E2E_PIDS[${#E2E_PIDS[@]}-1]}
  e2e_start_saver "$1" /p "$E2E_PANE"
  for i in $(seq 100); do
    echo child >&3
    sleep 0.1
    grep -q 'child=1' "$2" && return 0
  done
  echo "e2e: no window of the saver's in the pane after $i looks" >&2
  return 1
}
