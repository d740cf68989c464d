# Pieces of the about-box and password-lock tests; sourced after lib.sh.
# Files these tests put into the prefix's system folder, and the saver-password
# registry value, are put back when the test ends, and also at the start of the
# next one if a run was killed before it could.

E2E_SYSTEM32="$WINEPREFIX/drive_c/windows/system32"
E2E_KEPT="$GLMIRE_WINE_ROOT/kept"  # originals, and notes of what was not there
E2E_DESKTOP_KEY='HKCU\Control Panel\Desktop'

e2e_hostprobe() { wine "$GLMIRE_TOOLS/hostprobe.exe" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# Lets Wine draw the frames of one executable name's windows itself, caption
# buttons included, where the test can find them: a window manager's frame is
# beyond a Windows program's sight (and a bare X server draws none).
e2e_wine_frames() {  # e2e_wine_frames <exe name>
  e2e_answer reg add "HKCU\\Software\\Wine\\AppDefaults\\$1\\X11 Driver" /v Managed /d N /f >/dev/null
}

# One field of a "name=value name=value" line.
e2e_field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1"; }

# Puts <file> into the system folder as <name>; the first replacement keeps the original.
e2e_plant_system_file() {  # e2e_plant_system_file <file> <name>
  local name=${2,,}
  mkdir -p "$E2E_KEPT"
  if [ ! -e "$E2E_KEPT/$name" ] && [ ! -e "$E2E_KEPT/$name.absent" ]; then
    if [ -e "$E2E_SYSTEM32/$name" ]; then
      cp -p "$E2E_SYSTEM32/$name" "$E2E_KEPT/$name"
    else
      touch "$E2E_KEPT/$name.absent"
    fi
  fi
  # Never written through: the prefix's program files are links to the pristine ones.
  cp --remove-destination "$1" "$E2E_SYSTEM32/$name"
}

# Notes the original ScreenSaveUsePassword ("<type> <data>", or nothing) once.
e2e_keep_password_value() {
  mkdir -p "$E2E_KEPT"
  [ -e "$E2E_KEPT/use-password" ] && return 0
  wine reg query "$E2E_DESKTOP_KEY" /v ScreenSaveUsePassword </dev/null 2>/dev/null | tr -d '\r' |
    awk '$1 == "ScreenSaveUsePassword" { print $2, $3 }' >"$E2E_KEPT/use-password"
}

# Sets ScreenSaveUsePassword, of any type.
e2e_use_password() {  # e2e_use_password <REG_type> <data>
  e2e_keep_password_value
  e2e_answer reg add "$E2E_DESKTOP_KEY" /v ScreenSaveUsePassword /t "$1" /d "$2" /f >/dev/null
}

e2e_no_password_value() {
  e2e_keep_password_value
  wine reg delete "$E2E_DESKTOP_KEY" /v ScreenSaveUsePassword /f </dev/null >/dev/null 2>&1
  return 0
}

e2e_restore_system() {
  [ -d "$E2E_KEPT" ] || return 0
  local kept name
  for kept in "$E2E_KEPT"/*; do
    [ -e "$kept" ] || continue
    name=${kept##*/}
    case $name in
      use-password)
        local original
        original=$(cat "$kept")
        if [ -n "$original" ]; then
          wine reg add "$E2E_DESKTOP_KEY" /v ScreenSaveUsePassword /t "${original%% *}" \
            /d "${original#* }" /f </dev/null >/dev/null 2>&1
        else
          wine reg delete "$E2E_DESKTOP_KEY" /v ScreenSaveUsePassword /f </dev/null >/dev/null 2>&1
        fi
        ;;
      *.absent) rm -f "$E2E_SYSTEM32/${name%.absent}" ;;
      *) cp -p --remove-destination "$kept" "$E2E_SYSTEM32/$name" ;;
    esac
    rm -f "$kept"
  done
  rmdir "$E2E_KEPT" 2>/dev/null
  # The system's saver-running state is global; leave it off.
  e2e_hostprobe set-running 0
}

e2e_restore_system
trap 'e2e_restore_system; e2e_cleanup' EXIT

# Runs an exact command line in the background through launch.exe, in a
# Windows folder ("" for this one); the exit code lands in <code file>. Extra
# environment goes in as NAME=value words.
e2e_launch() {  # e2e_launch <code file> <folder> <command line> [NAME=value...]
  local out=$1 folder=$2 line=$3
  shift 3
  rm -f "$out" "$out.part"
  (
    for assignment in "$@"; do export "${assignment?}"; done
    e2e_exit_code "$line" "$folder" >"$out.part"
    mv "$out.part" "$out"
  ) &
  e2e_track $!
}

# Waits for the code file; prints the exit code, or "running".
e2e_wait_code() {  # e2e_wait_code <code file> [tenths of a second]
  local i
  for i in $(seq "${2:-100}"); do
    [ -s "$1" ] && { cat "$1"; return 0; }
    sleep 0.1
  done
  echo "e2e: no exit code in $(basename "$1") after $i looks" >&2
  echo running
}

# Waits until <file> has at least <n> lines; prints how many it has.
e2e_wait_lines() {  # e2e_wait_lines <file> <n> [tenths of a second]
  local i count=0
  for i in $(seq "${3:-50}"); do
    count=$(wc -l <"$1" 2>/dev/null || echo 0)
    [ "$count" -ge "$2" ] && break
    sleep 0.1
  done
  [ "$count" -ge "$2" ] || echo "e2e: $(basename "$1") has $count lines, not $2, after $i looks" >&2
  echo "$count"
}
