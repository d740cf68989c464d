#!/usr/bin/env bash
# The full-screen picture, pixel for pixel: inside the patch the shading rule
# on the 5-5-5 snapshot, outside it the snapshot itself; the patch moves and
# leaves nothing behind. Bottom-up and top-down maps, and one larger than the
# screen (every frame clipped at all four edges).
source "$(dirname "$0")/lib.sh"

cases=("$@")
e2e_test_desktop || exit 1

# Cases named on the command line run alone (one exact picture is what the
# other image and WoW64 need).
run_case() {  # run_case <name> <order> <w> <h>
  local name=$1 dir="$E2E_TMP/$1"
  [ ${#cases[@]} -eq 0 ] || [[ " ${cases[*]} " == *" $name "* ]] || return 0
  mkdir -p "$dir"
  e2e_picture map "$dir/map.bmp" "$2" "$3" "$4"
  e2e_saver_copy "$dir" "$dir/map.bmp"
  e2e_start_saver "$dir/glmire.scr" /s
  e2e_wait_saver || { e2e_check "$name: window" missing shown; return; }
  # Each checkpoint takes the first whole screenshot (e2e_exact_frame) once
  # the saver has drawn since the one before.
  local shot places=()
  for shot in 1 2 3; do
    [ "$shot" = 1 ] || e2e_next_frame
    e2e_exact_frame "$dir/shot.xwd" "$dir/map.bmp"
    echo "$name shot $shot (look $E2E_LOOKS): $E2E_VERDICT"
    e2e_check "$name shot $shot exact" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
    places+=("$(sed -E 's/patch at ([-0-9]+,[-0-9]+).*/\1/' <<<"$E2E_VERDICT")")
  done
  if [ "$3" -le 1024 ]; then
    e2e_check "$name: the patch moves" "$([ "${places[0]}" != "${places[2]}" ] && echo moved)" moved
  fi
  xdotool key space
  e2e_wait_exit "$E2E_SAVER" 50
  e2e_check "$name: exit after a key" "$E2E_RC" 0
}

run_case bottom-up bottom-up 96 64
run_case top-down top-down 96 64
run_case larger-than-screen bottom-up 1200 800

e2e_finish
