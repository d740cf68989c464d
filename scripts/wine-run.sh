#!/usr/bin/env bash
# Runs one Windows program under the build tree's Wine (see wine-env.sh).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
glmire_wine_up || exit 125
exec wine "$@"
