#!/usr/bin/env bash
# Builds glmire.scr and runs it full screen under Wine: on your display when
# $DISPLAY is set, otherwise on a private Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target glmire >/dev/null
export GLMIRE_WINE_ROOT=$PWD/build/windows/wine
[ -n "${DISPLAY:-}" ] && export GLMIRE_DISPLAY=user
source scripts/wine-env.sh
glmire_wine_up
echo "Running build/windows/bin/glmire.scr /s on DISPLAY=$DISPLAY"
set +e
wine build/windows/bin/glmire.scr /s
echo "glmire.scr exited with $?"
