#!/usr/bin/env bash
# A preview whose host process is killed outright: no WM_DESTROY reaches the
# saver's window, and the saver ends by itself all the same, cleanly.
source "$(dirname "$0")/lib.sh"

e2e_picture map "$E2E_TMP/map.bmp" bottom-up 96 64
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/map.bmp"

e2e_start_preview "$E2E_TMP/saver/glmire.scr" "$E2E_TMP/host.out" || exit 1
killed=$(date +%s%N)
{ kill -9 "$E2E_HOST" && wait "$E2E_HOST"; } 2>/dev/null
e2e_wait_exit "$E2E_SAVER" 20
echo "host killed: the preview's process gone after $((($(date +%s%N) - killed) / 1000000)) ms"
e2e_check "host killed: the preview ends within 2 s, exit 0" "$E2E_RC" 0
exec 3>&-
e2e_nothing_left "host killed"

e2e_finish
