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
#
# Its pieces, one job a file in scripts/wine/: machine.sh (what this machine
# can run), display.sh (the X display and its window manager), server.sh (the
# wine server and the variables of a Wine call), prefix.sh (the pristine
# prefix and its copies) and cleanup.sh (taking what runs down again).

source "$(dirname "${BASH_SOURCE[0]}")/wine/machine.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine/display.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine/server.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine/prefix.sh"
source "$(dirname "${BASH_SOURCE[0]}")/wine/cleanup.sh"

# Brings the root's display, prefix and server up, under the root's lock (the
# tests of a tree share them); what it started itself goes down again on a failure.
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

# Takes the root's server and display down; the prefix stays.
glmire_wine_down() {
  glmire_wine_vars
  wineserver -k >/dev/null 2>&1 || true
  glmire_display_down
  return 0
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
