#!/usr/bin/env bash
# The full-screen picture, pixel for pixel: inside the patch the shading rule
# on the 5-5-5 snapshot, outside it the snapshot itself; the patch moves and
# leaves nothing behind. Bottom-up and top-down maps, and one larger than the
# screen (every frame clipped at all four edges).
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1

run_case() {  # run_case <name> <order> <w> <h>
  local name=$1 dir="$E2E_TMP/$1"
  mkdir -p "$dir"
  $E2E_CHECK map "$dir/map.bmp" "$2" "$3" "$4"
  e2e_saver_copy "$dir" "$dir/map.bmp"
  e2e_start_saver "$dir/glmire.scr" /s
  e2e_wait_window "Screen Saver" || { e2e_check "$name: window" missing shown; return; }
  sleep 1.5
  # Wine puts a frame on the X screen in more than one step, so a screenshot
  # may catch one half drawn; each checkpoint takes the first of a few
  # screenshots that is whole. A wrong picture is never whole.
  local shot try verdict places=()
  for shot in 1 2 3; do
    for try in $(seq 10); do
      e2e_screenshot "$dir/shot.png"
      verdict=$($E2E_CHECK check "$E2E_TMP/before.png" "$dir/shot.png" "$dir/map.bmp")
      grep -q 'mismatches=0$' <<<"$verdict" && break
    done
    echo "$name shot $shot (try $try): $(tail -n 1 <<<"$verdict")"
    e2e_check "$name shot $shot exact" "$(grep -c 'mismatches=0$' <<<"$verdict")" 1
    places+=("$(sed -E 's/patch at ([-0-9]+,[-0-9]+).*/\1/' <<<"$(tail -n 1 <<<"$verdict")")")
    sleep 0.5
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
