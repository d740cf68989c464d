#!/usr/bin/env bash
# Runs one Windows program under the build tree's Wine (see wine-env.sh).
# GLMIRE_ADDRESS_LIMIT_KB, when set, caps the program's address space (ulimit -v).
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
glmire_wine_up || exit 125
[ -n "${GLMIRE_ADDRESS_LIMIT_KB:-}" ] && ulimit -v "$GLMIRE_ADDRESS_LIMIT_KB"
# A program that dies of an exception leaves no word of it here (the prefix
# shows no crash dialog, and what it had written may still sit in its
# buffers), so a failure at least names its exit status (the low byte of the
# exit code: 5 for an access violation, 0xC0000005).
wine "$@"
rc=$?
[ "$rc" -eq 0 ] || echo "wine-run: $(basename "$1") ended with exit status $rc" >&2
exit "$rc"
