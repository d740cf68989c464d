#!/usr/bin/env bash
# Runs one Windows program under the build tree's Wine (see wine-env.sh).
# GLMIRE_ADDRESS_LIMIT_KB, when set, caps the program's address space (ulimit -v).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
glmire_wine_up || exit 125
[ -n "${GLMIRE_ADDRESS_LIMIT_KB:-}" ] && ulimit -v "$GLMIRE_ADDRESS_LIMIT_KB"
exec wine "$@"
