#!/usr/bin/env bash
# The long soak: glmire.scr full screen under Wine with the default map, its
# objects and memory sampled at an interval; they must stay flat. Builds the
# Windows tree first if needed. Prints every sample and the verdict.
#   soak.sh [seconds, default 600] [seconds between samples, default 30]
# GLMIRE_BUILD selects the Windows build tree (default: build/windows where
# this machine runs 32-bit programs, else build/windows-x64); the tree's own
# Wine prefix and X display are used, and taken down again if this script was
# the one to start them.
set -uo pipefail
cd "$(dirname "$0")/.."
duration=${1:-600}
interval=${2:-30}

bash scripts/deps.sh || exit 1
source scripts/wine-env.sh
glmire_pick_build || exit 1
echo "soak: $GLMIRE_PICK_REASON"
build=$(realpath -m "${GLMIRE_BUILD:-build/$GLMIRE_PRESET}")
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset "$GLMIRE_PRESET" -B "$build" >/dev/null || exit 1
fi
cmake --build "$build" --target glmire winprobe launch shade_maps >/dev/null || exit 1

# The tree's own architecture, which GLMIRE_BUILD may have chosen.
GLMIRE_WINE_ARCH=$(sed -n "s/.*GLMIRE_WINE_ARCH='\(win[0-9]*\)'.*/\1/p" "$build/wine-run")
export GLMIRE_SOURCE=$PWD GLMIRE_WINE_ROOT=$build/wine GLMIRE_BIN=$build/bin GLMIRE_TOOLS=$build/tools
export GLMIRE_WINE_ARCH
was_up=no
pid=$(cat "$GLMIRE_WINE_ROOT/xvfb.pid" 2>/dev/null) && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = Xvfb ] &&
  was_up=yes

echo "soak: ${duration} s, a sample every ${interval} s, build tree $build ($GLMIRE_WINE_ARCH)"
bash tests/e2e/soak.sh "$duration" "$interval"
rc=$?
[ "$was_up" = no ] && scripts/wine-env.sh down "$GLMIRE_WINE_ROOT"
exit $rc
