# Sourced by the end-to-end tests and scripts/measure.sh.

# How this display's pixels read back in a 32-bit capture, and how 8-bit
# channels drawn to it are shown, learned from the system (winprobe's ramp and
# the X server's own pixels under it) into <out.json> for frame_check.py.
# Needs the display and Wine up (DISPLAY, the prefix's wine on PATH).
glmire_learn_conversion() {  # glmire_learn_conversion <winprobe.exe> <work dir> <out.json>
  local probe_exe=$1 dir=$2 out=$3 i rc=1 feed try probe
  mkdir -p "$dir"
  # A probe that ends without a word did not get to run (seen under wine64 on
  # a busy machine): it is started again.
  for try in 1 2 3; do
    rm -f "$dir/probe.txt" "$dir/commands"
    mkfifo "$dir/commands"
    wine "$probe_exe" channels <"$dir/commands" >"$dir/probe.txt" 2>/dev/null &
    probe=$!
    exec {feed}>"$dir/commands"
    for i in $(seq 300); do
      grep -q '^widened \|^ramp not seen' "$dir/probe.txt" 2>/dev/null && break
      kill -0 "$probe" 2>/dev/null || break
      sleep 0.1
    done
    [ -s "$dir/probe.txt" ] || kill -0 "$probe" 2>/dev/null && break
    echo "winprobe channels: no answer (try $try)" >&2
    exec {feed}>&-
    wait "$probe" 2>/dev/null
  done
  # The ramp's own window: a dump of the root while a window with a colormap
  # of its own is up is a 24-bit composite, not the server's pixels.
  local ramp
  ramp=$(xdotool search --name '^winprobe ramp$' 2>/dev/null | head -n 1)
  if grep -q '^widened ' "$dir/probe.txt" && [ -n "$ramp" ]; then
    xwd -id "$ramp" -silent >"$dir/ramp.xwd"
    /usr/bin/python3 "$(dirname "${BASH_SOURCE[0]}")/frame_check.py" conversion "$dir/probe.txt" "$dir/ramp.xwd" \
      "$out" && rc=0
  else
    echo "winprobe's ramp: $(head -c 200 "$dir/probe.txt" | tr -d '\r')" >&2
  fi
  # The probe may be gone already: a write to its pipe must not end the caller.
  ( trap '' PIPE; echo >&"$feed" ) 2>/dev/null
  exec {feed}>&-
  wait "$probe" 2>/dev/null
  return $rc
}

