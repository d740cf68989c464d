#!/usr/bin/env bash
# Runs every test: the native core (ASan + UBSan), both Windows builds under
# Wine (unit tests and the real glmire.scr end to end) and short fuzz runs of
# the map reader and the command tail.
# The PE32 build's Wine suite needs a machine that runs 32-bit programs; where
# it cannot run, its checks that need no Wine still run and one line says so.
# Installs what it needs first. Prints each ctest summary and a total.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh || exit 1
source scripts/wine-env.sh

passed=0
failed=0
run_workflow() {  # run_workflow <preset> [configure arguments...]
  local preset=$1 log
  shift
  log=$(mktemp)
  echo "=== $preset ==="
  cmake --preset "$preset" "$@" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1 || {
    cat "$log"; rm -f "$log"; failed=$((failed + 1)); return 1; }
  ctest --preset "$preset" 2>&1 | tee "$log" | grep -v -E '^ +Start |Test +#[0-9]+: .* Passed'
  local summary
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log")
  if [ -n "$summary" ]; then
    local total fail
    fail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + total - fail)); failed=$((failed + fail))
  else
    failed=$((failed + 1))
  fi
  rm -f "$log"
}

start=$(date +%s)
run_workflow native
if glmire_runs_32bit; then
  run_workflow windows -DGLMIRE_WINE_TESTS=ON
  pe32_note=""
else
  run_workflow windows -DGLMIRE_WINE_TESTS=OFF
  pe32_note="PE32 suite under Wine NOT RUN: this machine runs no 32-bit programs ($(glmire_32bit_reason)); only its build checks ran"
fi
run_workflow windows-x64
run_workflow fuzz
echo "=== all tests: $(( $(date +%s) - start )) s ==="
[ -n "$pe32_note" ] && echo "$pe32_note"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
