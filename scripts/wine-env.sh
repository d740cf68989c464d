#!/usr/bin/env bash
# Wine environment of one build tree: a private prefix, an X display and a warm
# wineserver. Source it and call glmire_wine_up; or run it as
#   wine-env.sh up|down <root> [win32|win64]
# GLMIRE_WINE_ROOT (or <root>) is the folder that holds the prefix, the lock and logs.
# GLMIRE_WINE_ARCH (or the third argument) is the prefix's architecture: win32
# (the default, PE32 programs through the 32-bit loader) or win64 (PE32+
# programs through the 64-bit loader, for machines that run no 32-bit code).
# GLMIRE_DISPLAY=user keeps the caller's $DISPLAY; otherwise a private Xvfb is used.
# A private Xvfb runs a window manager, as the desktops where people run the
# saver do (openbox); GLMIRE_WM=none leaves it a bare X server.

GLMIRE_WINE_BIN=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine-bin

source "$(dirname "${BASH_SOURCE[0]}")/i386-probe.sh"

# 0 when this machine's kernel runs 32-bit programs itself and the 32-bit Wine
# loader is there. Programs that binfmt_misc hands to an emulator run too, but
# Wine's 32-bit side under emulation takes minutes for what takes a second, so
# they do not count (scripts/i386-probe.sh tells the two apart).
glmire_runs_32bit() {
  [ "$(glmire_i386_probe)" = native ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Why glmire_runs_32bit failed, as a clause: "this machine runs ...".
glmire_32bit_reason() {
  local probe why
  probe=$(glmire_i386_probe)
  case $probe in
    native) ;;
    emulated*) echo "this machine runs 32-bit programs only emulated: ${probe#emulated }"; return ;;
    *) echo "this machine runs no 32-bit programs (${probe#refused })"; return ;;
  esac
  if [ ! -e /usr/lib/wine/wine ]; then echo "/usr/lib/wine/wine is not installed (wine32:i386)"; return; fi
  why=$(/usr/lib/wine/wine --version 2>&1 | tail -1)
  echo "/usr/lib/wine/wine does not run (${why:-no answer})"
}

# The Windows build a script should run here: sets GLMIRE_PRESET (windows or
# windows-x64), GLMIRE_WINE_ARCH and GLMIRE_PICK_REASON; fails with a one-line
# message when Wine can run neither.
glmire_pick_build() {
  if glmire_runs_32bit; then
    GLMIRE_PRESET=windows GLMIRE_WINE_ARCH=win32
    GLMIRE_PICK_REASON="the PE32 build: this machine runs 32-bit programs"
  elif /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    GLMIRE_PRESET=windows-x64 GLMIRE_WINE_ARCH=win64
    GLMIRE_PICK_REASON="the x64 build: $(glmire_32bit_reason)"
  else
    echo "wine-env: no Wine can run here: /usr/lib/wine/wine and /usr/lib/wine/wine64 both fail (is wine installed?)" >&2
    return 1
  fi
  export GLMIRE_WINE_ARCH
}

glmire_wine_vars() {
  local root=${GLMIRE_WINE_ROOT:?GLMIRE_WINE_ROOT is not set}
  export WINEPREFIX="$root/prefix"
  export WINEARCH=${GLMIRE_WINE_ARCH:-win32}
  case $WINEARCH in
    win64) export GLMIRE_WINE_LOADER=/usr/lib/wine/wine64 WINELOADER=/usr/lib/wine/wine64 ;;
    *) export GLMIRE_WINE_LOADER=/usr/lib/wine/wine ;;
  esac
  case ":$PATH:" in *":$GLMIRE_WINE_BIN:"*) ;; *) export PATH="$GLMIRE_WINE_BIN:$PATH" ;; esac
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono/Gecko installers, no desktop menu entries.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Prints the pid of the wineserver serving $WINEPREFIX, if one runs.
glmire_server_pid() {
  local pid
  # Debian runs it as wineserver64 (or wineserver32).
  for pid in $(pgrep "^wineserver" 2>/dev/null); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

# Prints the pids of the processes that work in Wine roots under <dir>: the
# test scripts and programs, their Xvfbs and wineservers (all of them carry
# GLMIRE_WINE_ROOT in their environment from where they were started).
glmire_root_pids() {  # glmire_root_pids <dir>
  local proc
  for proc in /proc/[0-9]*; do
    [ "${proc#/proc/}" = "$$" ] && continue
    { tr '\0' '\n' <"$proc/environ"; } 2>/dev/null | grep -q "^GLMIRE_WINE_ROOT=$1" && echo "${proc#/proc/}"
  done
  return 0
}

# Prints the pids of this prefix's processes whose command line matches a pattern.
glmire_prefix_pids() {  # glmire_prefix_pids <pgrep -f pattern>
  local pid
  for pid in $(pgrep -f "$1" 2>/dev/null); do
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}

glmire_display_up() {
  local root=$GLMIRE_WINE_ROOT lockfd=$1 n pid
  if [ "${GLMIRE_DISPLAY:-}" = user ] && [ -n "${DISPLAY:-}" ]; then return 0; fi
  if [ -f "$root/xvfb.pid" ] && [ -f "$root/display" ]; then
    pid=$(cat "$root/xvfb.pid"); n=$(cat "$root/display")
    if [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && [ -S "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      glmire_wm_up "$lockfd"
      return
    fi
  fi
  for n in $(seq 91 250); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    setsid Xvfb ":$n" -screen 0 "${GLMIRE_SCREEN:-1024x768x24}" -nolisten tcp -noreset \
      </dev/null >"$root/xvfb.log" 2>&1 {lockfd}>&- &
    pid=$!
    local i
    for i in $(seq 100); do
      [ -S "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    # Another tree's Xvfb may have taken the same number a moment earlier: the
    # socket is then theirs, and only the lock file tells whose server it is.
    if [ -S "/tmp/.X11-unix/X$n" ] && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$pid" ]; then
      echo "$pid" >"$root/xvfb.pid"; echo "$n" >"$root/display"
      export DISPLAY=":$n"
      glmire_wm_up "$lockfd" && return 0
      glmire_display_down
      return 1
    fi
    kill "$pid" 2>/dev/null
  done
  echo "wine-env: could not start Xvfb (see $root/xvfb.log)" >&2
  return 1
}

# 0 when the display's root window names a running window manager.
glmire_wm_ready() {
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id #'
}

# The display's window manager, started once the server is up and before any
# window is made; ready once it announces itself on the root window
# (_NET_SUPPORTING_WM_CHECK). Its pid is kept beside the server's, and it is
# taken down with the display. Without one Wine waits 2 s at every close of a
# full-screen window for an answer nobody gives, and nothing the saver does
# on close could be seen or timed.
glmire_wm_up() {
  local root=$GLMIRE_WINE_ROOT lockfd=$1 pid i
  [ "${GLMIRE_WM:-openbox}" = none ] && return 0
  if [ -f "$root/wm.pid" ]; then
    pid=$(cat "$root/wm.pid")
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = openbox ] && glmire_wm_ready && return 0
    rm -f "$root/wm.pid"
  fi
  command -v openbox >/dev/null || { echo "wine-env: openbox is not installed (scripts/deps.sh)" >&2; return 1; }
  # The system's own configuration, whatever the user's home holds.
  setsid openbox --sm-disable --config-file /etc/xdg/openbox/rc.xml \
    </dev/null >"$root/wm.log" 2>&1 {lockfd}>&- &
  pid=$!
  for i in $(seq 200); do
    glmire_wm_ready && { echo "$pid" >"$root/wm.pid"; return 0; }
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill "$pid" 2>/dev/null
  echo "wine-env: openbox did not come up on $DISPLAY (see $root/wm.log)" >&2
  return 1
}

glmire_prefix_up() {
  local root=$GLMIRE_WINE_ROOT lockfd=$1
  [ -f "$WINEPREFIX/.glmire-ready" ] && return 0
  if ! "$GLMIRE_WINE_LOADER" --version >/dev/null 2>&1; then
    if [ "$WINEARCH" = win32 ]; then
      echo "wine-env: 32-bit Windows programs cannot run: $(glmire_32bit_reason);" \
        "the windows-x64 build runs through Wine's 64-bit side" >&2
    else
      echo "wine-env: $GLMIRE_WINE_LOADER cannot run here; is the wine64 package installed?" >&2
    fi
    return 1
  fi
  wineserver -k >/dev/null 2>&1 {lockfd}>&-
  rm -rf "$WINEPREFIX" "$root/pristine" "$root/pristine.list"
  # Tests plant files and set values in the prefix while they run: the prefix
  # is made as "pristine", which nothing runs in, and the tree's own prefix
  # and every test's private one are linked copies of it. With
  # GLMIRE_PRISTINE_DIR the trees of a run share one of each architecture
  # there, made by whichever asks first.
  local pristine=$root/pristine shared rc=0
  if [ -n "${GLMIRE_PRISTINE_DIR:-}" ]; then
    mkdir -p "$GLMIRE_PRISTINE_DIR"
    pristine=$GLMIRE_PRISTINE_DIR/$WINEARCH
    exec {shared}>"$pristine.lock"
    flock "$shared"
    [ -f "$pristine/.glmire-ready" ] || glmire_pristine_make "$pristine" "$root/wineboot.log" "$lockfd" "$shared" || rc=1
    exec {shared}>&-
    [ $rc -eq 0 ] || return 1
    ln -s "$pristine" "$root/pristine"
    ln -s "$pristine.list" "$root/pristine.list"
  else
    glmire_pristine_make "$pristine" "$root/wineboot.log" "$lockfd" || return 1
  fi
  glmire_prefix_clone "$root/pristine" "$WINEPREFIX" ||
    { rm -rf "$WINEPREFIX"; echo "wine-env: could not copy $root/pristine to $WINEPREFIX" >&2; return 1; }
}

# Makes a prefix afresh in <dir>, with its listing beside it as <dir>.list.
# The lock descriptors named are kept from everything it starts.
glmire_pristine_make() {  # glmire_pristine_make <dir> <log> <lock fd...>
  local dir=$1 log=$2
  shift 2
  rm -rf "$dir" "$dir.list"
  (
    for fd in "$@"; do eval "exec $fd>&-"; done
    export WINEPREFIX=$dir
    # Wine writes the registry lazily; wait for the server before the prefix counts as made.
    wineboot -i </dev/null >"$log" 2>&1 || true
    # No crash dialog that would leave a test waiting on a click.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >>"$log" 2>&1
    wineserver -w
  )
  [ -f "$dir/system.reg" ] || { echo "wine-env: wineboot failed (see $log)" >&2; return 1; }
  touch "$dir/.glmire-ready"
  glmire_prefix_list "$dir" >"$dir.list"
}

# Wine's program files in a prefix (its DLLs, programs, drivers, code-page
# tables): Wine only ever reads them, and they are nearly all of its size.
glmire_program_file='.*\.\(dll\|exe\|drv\|sys\|vxd\|ocx\|cpl\|acm\|tlb\|ds\|ax\|com\|nls\|mui\|ttf\)'

# Every file of a prefix with its size, modification time and mode (not its
# change time, which a new link to it moves): a file written in
# place, added or removed shows as a changed line.
glmire_prefix_list() {  # glmire_prefix_list <prefix>
  (cd "$1" && find . -printf '%p %y %s %T@ %m\n' | LC_ALL=C sort)
}

# A private prefix from a pristine one in a fraction of a copy's time and
# space: the program files are hard links to the pristine ones, everything
# else (the registry, .ini files, folders) is a copy of its own, so what Wine
# or a test writes there never reaches the pristine prefix. A program file
# a test replaces must be removed first, never written through (cp
# --remove-destination): the link would carry the write back.
glmire_prefix_clone() {  # glmire_prefix_clone <pristine> <new>
  (
    set -e
    # The pristine prefix may be a link to the one a run shares.
    cp -a --link "$(readlink -f "$1")" "$2"
    cd "$2"
    find . -type f ! -iregex "$glmire_program_file" -print0 |
      while IFS= read -r -d '' file; do
        cp -p "$file" "$file.own"
        mv -f "$file.own" "$file"
      done
  )
}

# 0 when the tree's pristine prefix is as it was made; otherwise says what changed.
glmire_pristine_unchanged() {  # glmire_pristine_unchanged <root>
  local root=$1 changed
  [ -f "$root/pristine.list" ] || return 0
  changed=$(diff <(glmire_prefix_list "$root/pristine") "$root/pristine.list" | grep '^[<>]' | head -n 5)
  [ -z "$changed" ] && return 0
  echo "wine-env: the pristine prefix in $root changed since it was made:" >&2
  printf '  %s\n' "$changed" >&2
  return 1
}

# Starts wineserver and Wine's background services with their output away from
# the caller's pipes; a service that inherits a test's stdout keeps CTest waiting.
# Fails saying why: a caller that gets no Wine must never fail without a word.
glmire_server_up() {
  local lockfd=$1 root=$GLMIRE_WINE_ROOT i try rc=0
  glmire_server_pid >/dev/null && return 0
  wineserver -p60 </dev/null >"$root/server.log" 2>&1 {lockfd}>&-
  for i in $(seq 100); do
    glmire_server_pid >/dev/null && break
    sleep 0.05
  done
  if ! glmire_server_pid >/dev/null; then
    echo "wine-env: wineserver did not start for $WINEPREFIX: $(tail -n 3 "$root/server.log" | tr '\n' ' ')" >&2
    return 1
  fi
  # The first start on a new display also brings up Wine's desktop; a slow one
  # is given a second chance before the start counts as failed.
  for try in 1 2; do
    wine cmd /c exit </dev/null >"$root/services.log" 2>&1 {lockfd}>&- && return 0
    rc=$?
    echo "wine-env: starting Wine's services failed (status $rc, try $try): $(tail -n 3 "$root/services.log" | tr '\n' ' ')" >&2
  done
  return 1
}

glmire_wine_up() {
  glmire_wine_vars
  local root=$GLMIRE_WINE_ROOT lockfd had_display had_server
  mkdir -p "$root"
  exec {lockfd}>"$root/lock"
  flock "$lockfd"
  # (|| true: callers may run under set -e)
  had_display=$( [ -f "$root/xvfb.pid" ] && echo yes || true)
  had_server=$(glmire_server_pid >/dev/null && echo yes || true)
  local rc=0
  glmire_display_up "$lockfd" && glmire_prefix_up "$lockfd" && glmire_server_up "$lockfd" || rc=1
  # A failed start takes down what it started itself, and only that: the
  # display and server may be serving other tests of the tree right now.
  if [ $rc -ne 0 ]; then
    [ -n "$had_server" ] || wineserver -k >/dev/null 2>&1 {lockfd}>&-
    [ -n "$had_display" ] || glmire_display_down
    echo "wine-env: no Wine environment in $root" >&2
  fi
  exec {lockfd}>&-
  return $rc
}

glmire_display_down() {
  local root=$GLMIRE_WINE_ROOT pid
  if [ -f "$root/wm.pid" ]; then
    pid=$(cat "$root/wm.pid")
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = openbox ] && kill "$pid" 2>/dev/null
    rm -f "$root/wm.pid"
  fi
  if [ -f "$root/xvfb.pid" ]; then
    pid=$(cat "$root/xvfb.pid")
    [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] && kill "$pid" 2>/dev/null
    rm -f "$root/xvfb.pid" "$root/display"
  fi
  return 0
}

glmire_wine_down() {
  glmire_wine_vars
  wineserver -k >/dev/null 2>&1 || true
  glmire_display_down
  return 0
}

# A private Wine environment beside the tree's: its own folder under the
# tree's Wine root, a copy of the tree's ready prefix, and (once brought up)
# its own X display and wineserver. Tests that run side by side each get one,
# so no test sees another's windows, input, registry or system files.
#   glmire_private_root <name>   sets GLMIRE_WINE_ROOT to it, made afresh
#   glmire_private_end           takes it down and removes it
glmire_private_root() {
  local shared=${GLMIRE_WINE_ROOT:?GLMIRE_WINE_ROOT is not set} own lockfd rc=0
  own="$shared/private/$1"
  # What a killed run of the same test left behind.
  glmire_private_sweep "$own"
  mkdir -p "$own"
  glmire_wine_vars
  exec {lockfd}>"$shared/lock"
  flock "$lockfd"
  # The copy is taken under the tree's lock, never of a prefix still being
  # made, and of the prefix as it was made: the tree's own may have a unit
  # test's stand-in verifier or password setting in it right now.
  glmire_prefix_up "$lockfd" || rc=1
  [ $rc -ne 0 ] || glmire_prefix_clone "$shared/pristine" "$own/prefix" || rc=1
  exec {lockfd}>&-
  if [ $rc -ne 0 ]; then
    echo "wine-env: could not copy the prefix $WINEPREFIX to $own" >&2
    rm -rf "$own"
    return 1
  fi
  GLMIRE_PRIVATE_ROOT=$own
  export GLMIRE_WINE_ROOT=$own
  glmire_wine_vars
}

glmire_private_end() {
  [ -n "${GLMIRE_PRIVATE_ROOT:-}" ] || return 0
  glmire_private_sweep "$GLMIRE_PRIVATE_ROOT"
  GLMIRE_PRIVATE_ROOT=
}

# Takes down and removes private roots: the one named, or with --all <tree
# root> every one under it (what tests killed on a timeout left running).
glmire_private_sweep() {  # glmire_private_sweep <private root> | --all <tree root>
  local dir
  if [ "$1" = --all ]; then
    for dir in "$2"/private/*/; do
      [ -d "$dir" ] && glmire_private_sweep "${dir%/}"
    done
    rmdir "$2/private" 2>/dev/null || true
    return 0
  fi
  [ -d "$1" ] || return 0
  (
    export GLMIRE_WINE_ROOT=$1
    glmire_wine_down
    # The prefix is removed only once its server has let go of it.
    [ -d "$1/prefix" ] && WINEPREFIX="$1/prefix" timeout 20 wineserver -w 2>/dev/null
    rm -rf "$1"
  )
  return 0
}

# For scripts that bring the environment up for themselves: a scratch folder
# (GLMIRE_WORK), background processes to stop (glmire_track) and, on exit,
# everything taken down again.
glmire_session() {
  GLMIRE_WORK=$(mktemp -d)
  GLMIRE_PIDS=()
  trap glmire_session_end EXIT
}
glmire_track() { GLMIRE_PIDS+=("$1"); }
glmire_session_end() {
  local pid
  for pid in "${GLMIRE_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$GLMIRE_WORK"
  glmire_wine_down
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -eu
  [ $# -ge 2 ] && export GLMIRE_WINE_ROOT=$2
  [ $# -ge 3 ] && export GLMIRE_WINE_ARCH=$3
  case "${1:-}" in
    up) glmire_wine_up && echo "DISPLAY=$DISPLAY WINEPREFIX=$WINEPREFIX WINEARCH=$WINEARCH" ;;
    # Also whatever private environments of the tree's tests outlived them.
    down) glmire_wine_down; glmire_private_sweep --all "$GLMIRE_WINE_ROOT" ;;
    *) echo "usage: wine-env.sh up|down <root> [win32|win64]" >&2; exit 2 ;;
  esac
fi
