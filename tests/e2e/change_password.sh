#!/usr/bin/env bash
# /a on the 9x family: the system's change service is asked for the saver
# password ("SCRSAVE") with the right owner, only from the system folder, and
# the exit code is 0 whether the service is there or not.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/host_lib.sh"

# A copy that Wine reports the 9x family to, in a folder of its own.
mkdir -p "$E2E_TMP/saver" "$E2E_TMP/cwd"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/saver/lock9x.scr"
e2e_windows_version lock9x.scr win98
scr=$(e2e_winpath "$E2E_TMP/saver/lock9x.scr")
cwd=$(e2e_winpath "$E2E_TMP/cwd")
log="$E2E_TMP/stub.log"
stub_env=("GLMIRE_STUB_LOG=$(e2e_winpath "$E2E_TMP")\\stub.log")
# Native first, so that Wine takes whatever file the saver names.
native_mpr=("${stub_env[@]}" "WINEDLLOVERRIDES=$WINEDLLOVERRIDES;mpr=n")
code="$E2E_TMP/code"

run() {  # run <tail> <environment...>: prints the exit code
  local tail=$1
  shift
  rm -f "$log"
  e2e_launch "$code" "$cwd" "$scr$tail" "$@"
  e2e_wait_code "$code" 200
}

# Two windows of the test's own; the second one is in front.
start_owner() {
  wine "$GLMIRE_TOOLS/hostprobe.exe" owner 120000 </dev/null >"$E2E_TMP/$1" 2>/dev/null &
  e2e_track $!
  for _ in $(seq 100); do [ -s "$E2E_TMP/$1" ] && break; sleep 0.1; done
  [ -s "$E2E_TMP/$1" ] || echo "e2e: the test's window '$1' did not show in 100 looks" >&2
  tr -d '\r\n' <"$E2E_TMP/$1"
}
behind=$(start_owner behind)
front=$(start_owner front)
e2e_check "the second window is in front" "$(e2e_hostprobe foreground)" "$front"

e2e_plant_system_file "$GLMIRE_TOOLS/change_stub.dll" mpr.dll
system_mpr='C:\windows\system32\mpr.dll'

# The owner: the number given when it names a window, else the foreground window.
owners=(
  " /a $behind|$behind"
  " /A$behind|$behind"
  " -a|$front"
  " /a 12345678|$front"
  " /a 0|$front"
)
for entry in "${owners[@]}"; do
  tail=${entry%|*}
  owner=${entry#*|}
  e2e_check "'$tail': exit code" "$(run "$tail" "${native_mpr[@]}")" 0
  e2e_check "'$tail': the call" "$(grep '^change' "$log" 2>/dev/null | sed 's/ foreground=[0-9]*//')" \
    "change provider=SCRSAVE owner=$owner reserved=0,0"
  e2e_check "'$tail': loaded from the system folder" \
    "$(sed -n 's/^attach //p' "$log" 2>/dev/null | tr -d '\r' | tr 'A-Z' 'a-z')" "${system_mpr,,}"
  e2e_check "'$tail': let go again" "$(tail -n 1 "$log" 2>/dev/null)" detach
done

# The service without its entry, or no service at all: nothing is called, still 0.
e2e_plant_system_file "$GLMIRE_TOOLS/verify_stub.dll" mpr.dll
e2e_check "no entry: exit code" "$(run " /a" "${native_mpr[@]}")" 0
e2e_check "no entry: loaded, not called" "$(grep -c '^change' "$log")" 0
e2e_check "no service: exit code" \
  "$(run " /a" "${stub_env[@]}" "WINEDLLOVERRIDES=$WINEDLLOVERRIDES;mpr=")" 0

# Stand-ins beside the saver and in the current folder are never taken, even
# with Wine told to prefer files to its own mpr.
e2e_restore_system
cp "$GLMIRE_TOOLS/change_stub.dll" "$E2E_TMP/saver/MPR.DLL"
cp "$GLMIRE_TOOLS/change_stub.dll" "$E2E_TMP/cwd/MPR.DLL"
e2e_check "planted: exit code" "$(run " /a" "${native_mpr[@]}")" 0
e2e_check "planted: never loaded" "$(cat "$log" 2>/dev/null)" ""

e2e_hostprobe close "$front"
e2e_hostprobe close "$behind"
e2e_finish
