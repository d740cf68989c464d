# The wine server of a prefix: the variables every Wine call of a root runs
# with, and a warm wineserver with Wine's services, started with their output
# away from the caller's pipes. Sourced by scripts/wine-env.sh.

GLMIRE_WINE_BIN=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/wine-bin

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
