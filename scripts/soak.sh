#!/usr/bin/env bash
# The long soak: glmire.scr full screen under Wine with the default map, its
# objects and memory sampled at an interval; they must stay flat. Builds the
# Windows tree first if needed. Prints every sample and the verdict.
#   soak.sh [seconds, default 600] [seconds between samples, default 30]
# GLMIRE_BUILD selects the Windows build tree (default build/windows); the
# tree's own Wine prefix and X display are used, and taken down again if this
# script was the one to start them.
set -uo pipefail
cd "$(dirname "$0")/.."
duration=${1:-600}
interval=${2:-30}
build=$(realpath -m "${GLMIRE_BUILD:-build/windows}")

bash scripts/deps.sh || exit 1
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset windows -B "$build" >/dev/null || exit 1
fi
cmake --build "$build" --target glmire winprobe launch shade_maps >/dev/null || exit 1

export GLMIRE_SOURCE=$PWD GLMIRE_WINE_ROOT=$build/wine GLMIRE_BIN=$build/bin GLMIRE_TOOLS=$build/tools
was_up=no
pid=$(cat "$GLMIRE_WINE_ROOT/xvfb.pid" 2>/dev/null) && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] &&
  was_up=yes

echo "soak: ${duration} s, a sample every ${interval} s, build tree $build"
bash tests/e2e/soak.sh "$duration" "$interval"
rc=$?
[ "$was_up" = no ] && scripts/wine-env.sh down "$GLMIRE_WINE_ROOT"
exit $rc
