#!/usr/bin/env bash
# Runs every test: the native core (ASan + UBSan), the Windows build under Wine
# (unit tests and the real glmire.scr end to end) and short fuzz runs of the
# map reader and the command tail.
# Installs what it needs first. Prints each ctest summary and a total.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh || exit 1

passed=0
failed=0
run_workflow() {
  local preset=$1 log
  log=$(mktemp)
  echo "=== $preset ==="
  cmake --preset "$preset" >"$log" 2>&1 && cmake --build --preset "$preset" >>"$log" 2>&1 || {
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
run_workflow windows
run_workflow fuzz
echo "=== all tests: $(( $(date +%s) - start )) s ==="
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
