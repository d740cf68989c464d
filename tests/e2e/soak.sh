#!/usr/bin/env bash
# A long full-screen run with the default map: the saver's objects and memory
# must stay flat while it animates, and it must still close cleanly.
#   soak.sh [seconds, default 60] [seconds between samples, default 15]
#
# Wine keeps no GUI-resource count (GetGuiResources is a stub) and no private
# bytes, so a sample holds what can be had: the saver's GDI objects from its
# own handle table, its windows, threads and kernel handles, and the Unix
# process's resident and private (anonymous) memory.
source "$(dirname "$0")/lib.sh"

duration=${1:-60}
interval=${2:-15}
# Some memory comes and goes with Wine's own caches; a leak of a frame's worth
# of anything per frame is far beyond this.
memory_slack_kb=${GLMIRE_SOAK_SLACK_KB:-1024}

e2e_test_desktop || exit 1
e2e_saver_copy "$E2E_TMP/saver" "$GLMIRE_BIN/glmire.bmp"
e2e_start_saver "$E2E_TMP/saver/glmire.scr" /s
e2e_wait_saver || { echo "FAIL: no saver window"; exit 1; }
# The first sample once the worker has prepared and drawn its first frame.
e2e_screen_changed "$E2E_TMP/before.xwd" "$E2E_TMP/first.xwd" 20 || echo "soak: no frame drawn yet"

field() { sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1"; }
status_kb() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status" 2>/dev/null; }

# The desktop picture is still, so a screen that changes is the saver at work.
moving() {
  e2e_look "$E2E_TMP/a.xwd"
  e2e_screen_changed "$E2E_TMP/a.xwd" "$E2E_TMP/b.xwd" 5 2>/dev/null && echo yes || echo no
}

first=""
start=$(date +%s)
elapsed=0
while :; do
  gui=$(e2e_probe gui "Screen Saver")
  rss=$(status_kb "$E2E_SAVER" VmRSS)
  anon=$(status_kb "$E2E_SAVER" RssAnon)
  sample="gdi=$(field "$gui" gdi) windows=$(field "$gui" windows) threads=$(field "$gui" threads)"
  sample="$sample handles=$(field "$gui" handles) rss=${rss:-?}kB private=${anon:-?}kB"
  echo "t=${elapsed}s $sample moving=$(moving)"
  [ "$gui" = none ] && { e2e_check "t=${elapsed}s: the saver runs" none running; break; }
  if [ -z "$first" ]; then
    first=$sample
    first_anon=$anon
    first_rss=$rss
  else
    e2e_check "t=${elapsed}s: objects as at the start" "${sample%% rss=*}" "${first%% rss=*}"
  fi
  e2e_check "t=${elapsed}s: the worker runs" "$(field "$gui" threads)" 2
  [ "$elapsed" -ge "$duration" ] && break
  next=$((elapsed + interval))
  while [ $(($(date +%s) - start)) -lt "$next" ]; do sleep 1; done
  elapsed=$(($(date +%s) - start))
done

if [ -n "$first" ] && [ -n "$anon" ]; then
  echo "growth over the run: private $((anon - first_anon)) kB, resident $((rss - first_rss)) kB"
  e2e_check "private memory growth within ${memory_slack_kb} kB" \
    "$([ $((anon - first_anon)) -le "$memory_slack_kb" ] && echo yes)" yes
fi

xdotool key shift
e2e_wait_exit "$E2E_SAVER" 100
e2e_check "closes after the soak, exit 0" "$E2E_RC" 0
e2e_nothing_left "soak"

e2e_finish
