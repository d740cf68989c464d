#!/usr/bin/env bash
# The saver password of the 9x family on the running full-screen saver: who
# is asked before it closes, how often, from which file, and what the system
# is told about a running saver.
source "$(dirname "$0")/lib.sh"
source "$(dirname "$0")/host_lib.sh"

mkdir -p "$E2E_TMP/saver" "$E2E_TMP/cwd"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/saver/lock9x.scr"
cp "$GLMIRE_BIN/glmire.scr" "$E2E_TMP/saver/locknt.scr"
[ -f "$GLMIRE_BIN/glmire.bmp" ] && cp "$GLMIRE_BIN/glmire.bmp" "$E2E_TMP/saver/"
e2e_windows_version lock9x.scr win98
saver9x=$(e2e_winpath "$E2E_TMP/saver/lock9x.scr")
saverNT=$(e2e_winpath "$E2E_TMP/saver/locknt.scr")
cwd=$(e2e_winpath "$E2E_TMP/cwd")
log="$E2E_TMP/stub.log"
answer="$E2E_TMP/answer"
code="$E2E_TMP/code"
stub_env=("GLMIRE_STUB_LOG=$(e2e_winpath "$E2E_TMP")\\stub.log"
          "GLMIRE_STUB_ANSWER=$(e2e_winpath "$E2E_TMP")\\answer")
system_verifier='c:\windows\system32\password.cpl'

verifications() { grep -c '^verify' "$log" 2>/dev/null || echo 0; }

# Starts <saver> /s and waits until its window is up and takes input.
start() {  # start <saver>
  rm -f "$log"
  xdotool mousemove 512 384
  e2e_launch "$code" "$cwd" "$1 /s" "${stub_env[@]}"
  if [ "$(e2e_hostprobe window "Screen Saver" 20000)" = 0 ]; then
    echo "FAIL: no saver window"
    return 1
  fi
  e2e_saver_ready
}

# Ends a saver a failed check may have left running.
finish() {
  [ -s "$code" ] && return 0
  echo 1 >"$answer"
  xdotool click 1
  e2e_wait_code "$code" 100 >/dev/null
}

# The first close request closes at once; no verifier, no running state.
for entry in "9x, passwords off|$saver9x|off" "NT family, passwords on|$saverNT|on"; do
  IFS='|' read -r name saver passwords <<<"$entry"
  if [ "$passwords" = on ]; then e2e_use_password REG_DWORD 1; else e2e_no_password_value; fi
  e2e_plant_system_file "$GLMIRE_TOOLS/verify_stub.dll" PASSWORD.CPL
  start "$saver" || exit 1
  e2e_check "$name: saver-running state" "$(e2e_hostprobe running)" 0
  xdotool click 1
  e2e_check "$name: a click closes, exit code" "$(e2e_wait_code "$code" 100)" 0
  e2e_check "$name: verifier never loaded" "$(cat "$log" 2>/dev/null)" ""
  finish
done

# Verifiers planted beside the saver and in the current folder are never taken.
e2e_restore_system
e2e_use_password REG_DWORD 1
cp "$GLMIRE_TOOLS/verify_stub.dll" "$E2E_TMP/saver/PASSWORD.CPL"
cp "$GLMIRE_TOOLS/verify_stub.dll" "$E2E_TMP/cwd/PASSWORD.CPL"
start "$saver9x" || exit 1
e2e_check "planted: saver-running state" "$(e2e_hostprobe running)" 0
xdotool click 1
e2e_check "planted: a click closes, exit code" "$(e2e_wait_code "$code" 100)" 0
e2e_check "planted: never loaded" "$(cat "$log" 2>/dev/null)" ""
finish
rm -f "$E2E_TMP/saver/PASSWORD.CPL" "$E2E_TMP/cwd/PASSWORD.CPL"

# Passwords on (stored as binary data this time), the system's verifier there.
e2e_use_password REG_BINARY 01000000
e2e_plant_system_file "$GLMIRE_TOOLS/verify_stub.dll" PASSWORD.CPL
# Refuse, and press a key the moment the verifier returns.
printf 0k >"$answer"
start "$saver9x" || exit 1
e2e_check "on: verifier loaded from the system folder" \
  "$(sed -n 's/^attach //p' "$log" | tr 'A-Z' 'a-z')" "$system_verifier"
e2e_check "on: saver-running state while it runs" "$(e2e_hostprobe running)" 1
xdotool click 1
e2e_check "refused: asked once" "$(e2e_wait_lines "$log" 2 100)" 2
refused_ms=$(($(date +%s%N) / 1000000))
e2e_check "refused: what the verifier saw" "$(grep '^verify' "$log" | sed 's/window=[0-9]*/window/')" \
  "verify window running=1 answer=0"
# The key came within 200 ms of the refusal: nobody is asked, the saver stays.
# The stub posted it before it returned, so it is queued for the saver's
# thread before anything sent from here now; once that thread has dealt with
# it and the close request it makes, a saver that closed all the same is let end.
e2e_settle "Screen Saver" || e2e_wait_code "$code" 100 >/dev/null
e2e_check "key right after a refusal: not asked" "$(verifications)" 1
e2e_check "refused: still running" "$([ -s "$code" ] && cat "$code" || echo running)" running
# Long after the refusal a click asks again; this time the password is right.
# Requests are dropped for 200 ms from the tick the verifier returned on,
# just after its line was seen: the click comes 300 ms later still (Wine's
# tick moves in steps of some 16 ms).
printf 1 >"$answer"
gap_ms=$((refused_ms + 500 - $(date +%s%N) / 1000000))
[ "$gap_ms" -le 0 ] || sleep "$(printf '0.%03d' "$gap_ms")"
xdotool click 1
e2e_check "accepted: exit code" "$(e2e_wait_code "$code" 100)" 0
e2e_check "accepted: asked twice in all" "$(verifications)" 2
e2e_check "accepted: verifier let go" "$(tail -n 1 "$log")" detach
e2e_check "accepted: saver-running state off after the run" "$(e2e_hostprobe running)" 0
finish

e2e_finish
