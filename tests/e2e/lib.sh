# Shared pieces of the end-to-end tests: the build tree's Wine, the programs a
# test starts (all stopped again by their ids), checks and the closing count.
set -u
source "$GLMIRE_SOURCE/scripts/wine-env.sh"
glmire_wine_up || { echo "e2e: Wine environment not available" >&2; exit 1; }

E2E_TMP=$(mktemp -d "${TMPDIR:-/tmp}/glmire-e2e.XXXXXX")
E2E_PIDS=()
E2E_PASSED=0
E2E_FAILED=0

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null; done
  sleep 0.2
  for pid in "${E2E_PIDS[@]}"; do kill -9 "$pid" 2>/dev/null; done
  rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

# Remembers a background process so that it is stopped when the test ends.
e2e_track() { E2E_PIDS+=("$1"); }

# The Windows form of a Unix path, through Wine's Z: drive.
e2e_winpath() {
  local p
  p=$(readlink -f "$1")
  p=${p//\//\\}
  echo "Z:$p"
}

# Runs an exact Windows command line and prints the full 32-bit exit code;
# a second argument is the Windows folder to run it in.
e2e_exit_code() {
  LAUNCH_COMMAND_LINE=$1 LAUNCH_DIRECTORY=${2:-} wine "$GLMIRE_TOOLS/launch.exe" </dev/null | tr -d '\r'
}

e2e_check() {  # e2e_check <what> <actual> <expected>
  if [ "$2" = "$3" ]; then
    E2E_PASSED=$((E2E_PASSED + 1))
  else
    E2E_FAILED=$((E2E_FAILED + 1))
    echo "FAIL: $1: got '$2', expected '$3'"
  fi
}

# Sets the Windows version Wine reports to one executable name (e.g. win98).
e2e_windows_version() {
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$1" /v Version /d "$2" /f >/dev/null 2>&1
}

e2e_finish() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" -eq 0 ]
}
