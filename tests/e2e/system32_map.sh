#!/usr/bin/env bash
# The PE32 saver installed the classic way on 64-bit Windows: glmire.scr and
# glmire.bmp in the real System32 (drive_c/windows/system32 of a win64
# prefix), started there by a 64-bit process as the system starts it. The
# 32-bit process's opens in System32 are redirected to SysWOW64, but the map
# read is the one beside the file that was started: the lens drifts exactly
# as from any other folder, also with a different glmire.bmp in SysWOW64;
# with none beside it, the failure screen. The preview alike (its picture is
# not on screen across processes under Wine, so there the relay log of the
# map's open tells which file it found).
#
# Environment, as lib.sh takes it: GLMIRE_WINE_ROOT a win64 Wine root
# (GLMIRE_WINE_ARCH=win64), GLMIRE_BIN and GLMIRE_TOOLS of the PE32 tree.
# launch64.exe, the PE32+ starter the PE32 tree builds beside its tools, is the
# 64-bit process that starts the saver. Where Wine's 32-bit loader cannot run,
# or the prefix is not win64, it prints NOT RUN and exits 77, which is not
# counted.
source "$GLMIRE_SOURCE/scripts/wine-env.sh"
if [ "${GLMIRE_WINE_ARCH:-}" != win64 ]; then
  echo "system32_map: NOT RUN: needs a win64 prefix (GLMIRE_WINE_ARCH=win64), got ${GLMIRE_WINE_ARCH:-none}"
  exit 77
fi
if ! glmire_runs_32bit; then
  echo "system32_map: NOT RUN: the PE32 cannot run under WOW64 here: $(glmire_32bit_reason)"
  exit 77
fi
source "$(dirname "$0")/lib.sh"

system32="$WINEPREFIX/drive_c/windows/system32"
syswow64="$WINEPREFIX/drive_c/windows/syswow64"
saver='C:\windows\system32\glmire.scr'
launch64=$GLMIRE_TOOLS/launch64.exe
[ -f "$launch64" ] || { echo "system32_map: $launch64 is not built"; exit 1; }

# Starts the saver by its System32 name from a 64-bit process (from a 32-bit
# one with START_32BIT set), Wine's messages into START_LOG (default: none);
# E2E_SAVER is the starter's pid, which ends with the saver.
start64() {  # start64 <switches...>
  local log=${START_LOG:-/dev/null}
  if [ -n "${START_32BIT:-}" ]; then
    LAUNCH_COMMAND_LINE="$saver $*" wine "$GLMIRE_TOOLS/launch.exe" </dev/null >/dev/null 2>"$log" &
  else
    LAUNCH_COMMAND_LINE="$saver $*" wine "$launch64" </dev/null >/dev/null 2>"$log" &
  fi
  E2E_SAVER=$!
  e2e_track "$E2E_SAVER"
}

e2e_test_desktop || exit 1
e2e_picture map "$E2E_TMP/beside.bmp" bottom-up 96 64
e2e_picture map "$E2E_TMP/stale.bmp" top-down 64 96
cp "$GLMIRE_BIN/glmire.scr" "$system32/glmire.scr"

# Full screen: the map beside the saver, whatever the other folder holds.
full_case() {  # full_case <name> <map in System32 or ""> <map in SysWOW64 or ""> <map shown or "">
  rm -f "$system32/glmire.bmp" "$syswow64/glmire.bmp"
  [ -z "$2" ] || cp "$2" "$system32/glmire.bmp"
  [ -z "$3" ] || cp "$3" "$syswow64/glmire.bmp"
  start64 /s
  e2e_wait_saver || { e2e_check "$1: window" missing shown; return; }
  if [ -n "$4" ]; then
    e2e_exact_frame "$E2E_TMP/shot.xwd" "$4"
    echo "$1 (look $E2E_LOOKS): $E2E_VERDICT"
    e2e_check "$1: the map beside the saver drifts exactly" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
  else
    e2e_check_failure_screen "$1" "$E2E_TMP/shot.xwd"
  fi
  e2e_close_on_key "$1"
}

full_case "system32" "$E2E_TMP/beside.bmp" "" "$E2E_TMP/beside.bmp"
full_case "system32, another map in syswow64" "$E2E_TMP/beside.bmp" "$E2E_TMP/stale.bmp" "$E2E_TMP/beside.bmp"
full_case "system32 without a map, one in syswow64" "" "$E2E_TMP/stale.bmp" ""
# A 32-bit process that starts the saver by the System32 name starts the one
# in SysWOW64, which names itself there: the map beside that one is read.
mv "$system32/glmire.scr" "$syswow64/glmire.scr"
START_32BIT=1 full_case "syswow64, started by a 32-bit process" "$E2E_TMP/stale.bmp" "$E2E_TMP/beside.bmp" \
  "$E2E_TMP/beside.bmp"
mv "$syswow64/glmire.scr" "$system32/glmire.scr"

# Preview: the relay log shows the saver's open of the map beside it and
# whether it found a file (a redirected open finds the one in SysWOW64).
wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude \
  /d 'KERNEL32.CreateFileA;KERNEL32.CreateFileW;KERNELBASE.CreateFileA;KERNELBASE.CreateFileW' /f >/dev/null 2>&1
preview_case() {  # preview_case <name> <map in System32 or ""> <found: yes|no>
  local out="$E2E_TMP/host.out" log="$E2E_TMP/relay.log" opened
  rm -f "$system32/glmire.bmp"
  [ -z "$2" ] || cp "$2" "$system32/glmire.bmp"
  cp "$E2E_TMP/stale.bmp" "$syswow64/glmire.bmp"
  e2e_start_host "$out" || { e2e_check "$1: host" missing shown; return; }
  WINEDEBUG=+relay START_LOG=$log start64 /p "$E2E_PANE"
  local i
  for i in $(seq 300); do
    # The call's line names the file; the return on the same thread, its handle.
    opened=$(awk '/Call [A-Z0-9]+\.CreateFile[AW]\(/ && index($0, "\"C:\\\\windows\\\\system32\\\\glmire.bmp\"") {
                    split($0, f, ":"); tid[f[1]] = 1 }
                  /Ret  [A-Z0-9]+\.CreateFile[AW]\(\)/ { split($0, f, ":"); if (tid[f[1]]) {
                    sub(/.*retval=/, ""); print $1; exit } }' "$log")
    [ -n "$opened" ] && break
    sleep 0.1
  done
  local found=yes
  [ "$opened" = ffffffff ] && found=no
  [ -n "$opened" ] || found="not tried"
  e2e_check "$1: the map beside the saver is opened" "$found" "$3"
  echo destroy >&3
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "$1: the pane's end ends the saver" "$E2E_RC" 0
  e2e_stop_host
}

preview_case "preview in system32" "$E2E_TMP/beside.bmp" yes
preview_case "preview in system32 without a map" "" no

e2e_finish
