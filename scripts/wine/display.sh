# The X display of a Wine root: a private Xvfb and its window manager,
# started once and kept (their pids in the root), or the caller's display
# with GLMIRE_DISPLAY=user. Sourced by scripts/wine-env.sh.

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
