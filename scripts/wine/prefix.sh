# Prefixes: a pristine one made once (per run with GLMIRE_PRISTINE_DIR), and
# linked copies of it for a tree and for each test that runs beside others, so
# that nothing a test plants reaches another. Sourced by scripts/wine-env.sh.

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
