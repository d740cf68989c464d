#!/usr/bin/env bash
# Runs every test: the native core (ASan + UBSan), the core as 32-bit Linux
# programs (natively or under qemu-i386), both Windows builds under Wine (unit
# tests and the real glmire.scr end to end) and short fuzz runs of the map
# reader and the command tail.
# The PE32 build's Wine suite needs a machine whose kernel runs 32-bit
# programs; where it cannot run, its checks that need no Wine still run and
# one line says so. So does one line where the i386 tree cannot run.
# Installs what it needs first. Prints each ctest summary and a total.
#
# The Windows trees that run under Wine spend most of their time waiting on the
# saver, so they build and test in the background while the native and fuzz
# trees build and run; each tree's output is printed whole, in a fixed order.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh || exit 1
source scripts/wine-env.sh
# One pristine prefix of each architecture for all the trees' roots: the PE32
# tree's WoW64 root and the x64 tree share their win64 one.
export GLMIRE_PRISTINE_DIR=$PWD/build/wine-pristine

logs=$(mktemp -d)
background=()
start=$(date +%s)

# Nothing of the run stays behind, interrupted or not: the background trees,
# and every Wine server, display and prefix copy of the trees' tests.
finish() {
  local pid pids tree round
  trap - INT TERM HUP
  for pid in "${background[@]}"; do kill -- "-$pid" 2>/dev/null || kill "$pid" 2>/dev/null; done
  # ctest starts each test in a group of its own: what still works in the
  # trees' Wine roots is found by its environment. The displays and servers
  # go last, taken down by the trees' own teardown.
  for round in 1 2 3; do
    pids=$(glmire_root_pids "$PWD/build/" | while read -r pid; do
      case $(cat "/proc/$pid/comm" 2>/dev/null) in Xvfb | wineserver*) ;; *) echo "$pid" ;; esac
    done)
    [ -n "$pids" ] || break
    # shellcheck disable=SC2086
    kill -9 $pids 2>/dev/null
    sleep 0.5
  done
  for tree in windows:win32 windows-x64:win64; do
    [ -d "build/${tree%%:*}/wine" ] &&
      bash scripts/wine-env.sh down "$PWD/build/${tree%%:*}/wine" "${tree##*:}" >/dev/null 2>&1
  done
  pids=$(glmire_root_pids "$PWD/build/")
  # shellcheck disable=SC2086
  [ -n "$pids" ] && kill -9 $pids 2>/dev/null
  for pid in "${background[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$logs"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

elapsed() { echo $(($(date +%s) - start)); }

# Configures, builds and tests one preset; its output goes to <log>, its
# "passed failed" counts to <log>.count. Tests that did not run are not counted.
run_workflow() {  # run_workflow <log> <preset> [configure arguments...]
  local log=$1 preset=$2 out configured built
  shift 2
  out=$(mktemp -p "$logs")
  echo "=== $preset ===" >"$log"
  local ok=yes
  cmake --preset "$preset" "$@" >"$out" 2>&1 && configured=$(elapsed) || ok=no
  if [ $ok = yes ] && [ -n "${BUILD_AFTER:-}" ]; then
    # BUILD_AFTER="<mark> <pid>": another tree's build comes first, until its
    # mark is made or its process is gone.
    while [ ! -e "${BUILD_AFTER% *}" ] && kill -0 "${BUILD_AFTER#* }" 2>/dev/null; do sleep 0.5; done
  fi
  [ $ok = yes ] && { cmake --build --preset "$preset" >>"$out" 2>&1 || ok=no; }
  [ -z "${BUILT_MARK:-}" ] || touch "$BUILT_MARK"
  if [ $ok = no ]; then
    cat "$out" >>"$log"
    echo "0 1" >"$log.count"
    return 1
  fi
  built=$(elapsed)
  nice -n "${TEST_NICE:-0}" ctest --preset "$preset" >"$out" 2>&1
  echo "(configured at $configured s, built at $built s, tested at $(elapsed) s of the run)" >>"$log"
  grep -v -E '^ +Start |Test +#[0-9]+: .* Passed' "$out" >>"$log"
  local summary total fail
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out")
  if [ -n "$summary" ]; then
    fail=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$summary")
    echo "$((total - fail)) $fail" >"$log.count"
  else
    echo "ctest printed no summary for $preset" >>"$log"
    echo "0 1" >"$log.count"
  fi
}

# In the background, in a process group of its own so that it can be stopped whole.
run_in_background() {  # run_in_background <function> <arguments...>
  set -m
  "$@" &
  background+=($!)
  set +m
}

# A Wine tree's prefixes need no build: they are made while the tree builds.
# The PE32 tree has a second one, win64, where it runs as on 64-bit Windows.
wine_tree() {  # wine_tree <log> <preset> <win32|win64> [configure arguments...]
  local log=$1 preset=$2 arch=$3 wow64=""
  shift 3
  bash scripts/wine-env.sh up "$PWD/build/$preset/wine" "$arch" >"$log.wine" 2>&1 &
  local prefix=$!
  if [ "$arch" = win32 ]; then
    bash scripts/wine-env.sh up "$PWD/build/$preset/wine64" win64 >"$log.wine64" 2>&1 &
    wow64=$!
  fi
  run_workflow "$log" "$preset" "$@"
  wait "$prefix" || cat "$log.wine" >>"$log"
  [ -z "$wow64" ] || wait "$wow64" || cat "$log.wine64" >>"$log"
}

if glmire_runs_32bit; then
  BUILT_MARK=$logs/pe32.built run_in_background wine_tree "$logs/2" windows win32 -DGLMIRE_WINE_TESTS=ON
  pe32=${background[-1]}
  pe32_note=""
else
  pe32_note="PE32 suite under Wine (and its WoW64 cases) NOT RUN: $(glmire_32bit_reason); only its build checks ran"
fi
# The i386 tree runs where the kernel runs 32-bit programs, else under qemu-i386.
i386_probe=$(glmire_i386_probe)
if [ "$i386_probe" = native ] || command -v qemu-i386 >/dev/null; then
  i386_note=""
else
  i386_note="i386 tree NOT RUN: the kernel does not run i386 programs itself (${i386_probe#* }) and qemu-i386 (qemu-user) is not installed"
fi
# Where the PE32 runs its whole suite, the x64 tree runs only the end-to-end
# cases that differ between the images (tests/e2e/CMakeLists.txt says why each).
# It then has the shorter way to go, and builds once the PE32 tree has built:
# that build and the whole suite after it are the run's longest way, and two
# Windows builds side by side would each take twice as long.
if [ -z "$pe32_note" ]; then
  BUILD_AFTER="$logs/pe32.built $pe32" run_in_background wine_tree "$logs/3" windows-x64 win64 -DGLMIRE_E2E_WHOLE=OFF
else
  run_in_background wine_tree "$logs/3" windows-x64 win64 -DGLMIRE_E2E_WHOLE=ON
fi
# The i386 tree, and how its programs ran.
i386_tree() {  # i386_tree <log>
  run_workflow "$1" native-i386
  if [ "$i386_probe" = native ]; then
    echo "(its programs ran natively)" >>"$1"
  else
    echo "(its programs ran under qemu-i386: the kernel does not run them itself, ${i386_probe#* })" >>"$1"
  fi
}
# The rest gives way to the Wine trees, whose tests wait on timers and the
# screen. The fuzz runs last a fixed time, best spent while those still run.
# The small i386 tree runs beside the fuzz, native and PE32 trees rather than
# after them: it then costs only its share of the processors, never a wait.
# It too runs in the background: only a waiting shell acts on a signal at once.
native_and_fuzz() {
  local i386=""
  renice -n 5 -p "$BASHPID" >/dev/null
  if [ -z "$i386_note" ]; then
    i386_tree "$logs/5" &
    i386=$!
  fi
  # The fuzz runs are boxed in time, not in work: at the lowest priority, and
  # beside the rest, they take only what the other trees leave, as long. Their
  # small build goes at this priority, so that the runs start early.
  TEST_NICE=19 run_workflow "$logs/4" fuzz &
  local fuzz=$!
  run_workflow "$logs/1" native
  [ -z "$pe32_note" ] || run_workflow "$logs/2" windows -DGLMIRE_WINE_TESTS=OFF
  [ -z "$i386" ] || wait "$i386"
  wait "$fuzz"
}
run_in_background native_and_fuzz
for pid in "${background[@]}"; do wait "$pid"; done
background=()

passed=0
failed=0
# Every test's prefix came from a pristine one; none may have reached it.
for root in build/windows/wine build/windows/wine64 build/windows-x64/wine; do
  [ -d "$root" ] || continue
  glmire_pristine_unchanged "$PWD/$root" 2>>"$logs/pristine" || failed=$((failed + 1))
done
for n in 1 5 2 3 4; do
  [ "$n" = 5 ] && [ -n "$i386_note" ] && continue
  cat "$logs/$n"
  p=0 f=1
  [ -s "$logs/$n.count" ] && read -r p f <"$logs/$n.count"
  passed=$((passed + p)); failed=$((failed + f))
done
[ -s "$logs/pristine" ] && cat "$logs/pristine"
echo "=== all tests: $(( $(date +%s) - start )) s ==="
[ -n "$pe32_note" ] && echo "$pe32_note"
[ -n "$i386_note" ] && echo "$i386_note"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
