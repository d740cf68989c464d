# Cleaning up: finding what still works in a tree's Wine roots, taking
# private roots down and removing them, and a scratch session for scripts that
# bring Wine up for themselves. Sourced by scripts/wine-env.sh.

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
