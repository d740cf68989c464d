#!/usr/bin/env bash
# Faults around a running saver, each of which must still end cleanly (exit
# code, nothing left behind): the map removed or replaced while it runs, the
# preview's pane gone at once, many runs in a row, a burst of input, and
# several full-screen starts at once.
source "$(dirname "$0")/lib.sh"

e2e_test_desktop || exit 1
scr="$E2E_TMP/saver/glmire.scr"

start() {  # start <case> [before.xwd: also until its first frame]
  e2e_start_saver "$scr" /s
  e2e_saver_ready ${2:+"$2"} || echo "FAIL: $1: no saver window"
}

close_and_check() {  # close_and_check <case>
  xdotool key shift
  e2e_wait_exit "$E2E_SAVER" 100
  e2e_check "$1: closes, exit 0" "$E2E_RC" 0
  e2e_nothing_left "$1"
}

# The screen shows exactly <map>'s shading over the desktop; a wrong map never does.
patch_of() {  # patch_of <case> <map>
  e2e_exact_frame "$E2E_TMP/shot.xwd" "$2"
  echo "$1 (look $E2E_LOOKS): $E2E_VERDICT"
  e2e_check "$1" "$(grep -c 'mismatches=0$' <<<"$E2E_VERDICT")" 1
}

# --- The map is read once, at start -----------------------------------------
e2e_picture map "$E2E_TMP/first.bmp" bottom-up 96 64
e2e_picture map "$E2E_TMP/second.bmp" top-down 48 80
e2e_saver_copy "$E2E_TMP/saver" "$E2E_TMP/first.bmp"
# Each look after a change waits for a frame the saver drew since: one that
# read the map again would draw it from that change on.
start "map removed"
patch_of "before removal: the first map" "$E2E_TMP/first.bmp"
rm "$E2E_TMP/saver/glmire.bmp"
e2e_next_frame
patch_of "after removal: still the first map" "$E2E_TMP/first.bmp"
cp "$E2E_TMP/second.bmp" "$E2E_TMP/saver/glmire.bmp"
e2e_next_frame
patch_of "after replacement: still the first map" "$E2E_TMP/first.bmp"
close_and_check "map removed and replaced"
start "next start"
patch_of "the next start: the replacing map" "$E2E_TMP/second.bmp"
close_and_check "next start"

# --- The preview's pane destroyed at once ------------------------------------
# Gone before the saver looked: a bad preview window, -1 (255 to the shell);
# gone after its child was made: the normal end, 0. Either way nothing stays.
e2e_picture map "$E2E_TMP/large.bmp" bottom-up 8192 4096
e2e_saver_copy "$E2E_TMP/large" "$E2E_TMP/large.bmp"
preview_gone() {  # preview_gone <case> <wait for the child: 0|1>
  local out="$E2E_TMP/$1.host" i
  e2e_start_host "$out" || { e2e_check "$1: host" missing shown; return; }
  e2e_start_saver "$E2E_TMP/large/glmire.scr" /p "$E2E_PANE"
  if [ "$2" = 1 ]; then
    # Its window is in the pane: the worker now prepares (the large map takes
    # a while). A loaded machine may take seconds to get the saver that far.
    for i in $(seq 600); do
      echo child >&3
      sleep 0.05
      grep -q 'child=1' "$out" && break
    done
    e2e_check "$1: the saver's window in the pane" "$(grep -c 'child=1' "$out" | sed 's/^[1-9][0-9]*$/yes/')" yes
  fi
  echo destroy >&3
  e2e_wait_exit "$E2E_SAVER" 100
  echo "$1: exit $E2E_RC"
  case $2:$E2E_RC in
    1:0 | 0:0 | 0:255) e2e_check "$1: ends by itself" ok ok ;;
    *) e2e_check "$1: ends by itself" "$E2E_RC" "0 (or 255 before the saver's start)" ;;
  esac
  e2e_stop_host
  e2e_nothing_left "$1"
}
preview_gone "pane gone at once" 0
preview_gone "pane gone while the worker prepares" 1

# --- Runs in a row ------------------------------------------------------------
e2e_saver_copy "$E2E_TMP/saver" "$GLMIRE_BIN/glmire.bmp"
clean=0
for run in $(seq 20); do
  start "run $run" "$E2E_TMP/before.xwd"
  xdotool key shift
  e2e_wait_exit "$E2E_SAVER" 100
  if [ "$E2E_RC" = 0 ]; then clean=$((clean + 1)); else echo "run $run: exit $E2E_RC"; fi
done
e2e_check "20 runs in a row, each exit 0" "$clean" 20
e2e_nothing_left "20 runs"

# --- A burst of input -----------------------------------------------------------
# 500 key presses and 500 mouse moves in one go; modifier keys and moves do
# nothing to the desktop picture's viewer once the saver is gone.
burst=()
for i in $(seq 250); do
  burst+=(key --delay 0 shift mousemove_relative -- 9 0 key --delay 0 shift mousemove_relative -- -9 0)
done
start "burst" "$E2E_TMP/before.xwd"
xdotool "${burst[@]}"
e2e_wait_exit "$E2E_SAVER" 100
e2e_check "burst of 1000 events: closes, exit 0" "$E2E_RC" 0
e2e_nothing_left "burst"

# --- Three full-screen starts at once ------------------------------------------
savers=()
for i in 1 2 3; do
  e2e_start_saver "$scr" /s
  savers+=("$E2E_SAVER")
done
e2e_wait_saver
# The extra two end by themselves, in any order.
for i in $(seq 150); do
  alive=0
  for pid in "${savers[@]}"; do kill -0 "$pid" 2>/dev/null && alive=$((alive + 1)); done
  [ "$alive" -le 1 ] && break
  sleep 0.1
done
[ "$alive" -le 1 ] || echo "e2e: three at once: $alive savers still run after $i looks" >&2
ended=0
running=""
for pid in "${savers[@]}"; do
  if kill -0 "$pid" 2>/dev/null; then
    running="$running $pid"
    continue
  fi
  e2e_wait_exit "$pid" 10
  if [ "$E2E_RC" = 0 ]; then ended=$((ended + 1)); else echo "a start at once: exit $E2E_RC"; fi
done
running=${running# }
e2e_check "three at once: two starts end with 0" "$ended" 2
e2e_check "three at once: one saver window" "$(xdotool search --name '^Screen Saver$' 2>/dev/null | wc -l)" 1
if [ -n "$running" ] && [ "${running// /}" = "$running" ]; then
  # Two windows made at once would take activation from each other and close:
  # with the others gone, the one left is in front and has handled what
  # activation messages came its way, or closed.
  e2e_saver_ready
  e2e_settle "Screen Saver" || e2e_wait_gone 50 "$running"
  e2e_check "three at once: the one left still runs once the others ended" "$(e2e_alive "$running")" yes
  E2E_SAVER=$running
  close_and_check "three at once: the one left"
else
  e2e_check "three at once: one saver runs" "${running:-none}" "one"
fi

e2e_finish
