# What this machine can run under Wine: the PE32 where the kernel runs 32-bit
# programs itself and Wine's 32-bit side is installed, else the x64 build.
# Sourced by scripts/wine-env.sh.

source "$(dirname "${BASH_SOURCE[0]}")/../i386-probe.sh"

# 0 when this machine's kernel runs 32-bit programs itself and the 32-bit Wine
# loader is there. Programs that binfmt_misc hands to an emulator run too, but
# Wine's 32-bit side under emulation takes minutes for what takes a second, so
# they do not count (scripts/i386-probe.sh tells the two apart).
glmire_runs_32bit() {
  [ "$(glmire_i386_probe)" = native ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Why glmire_runs_32bit failed, as a clause: "this machine runs ...".
glmire_32bit_reason() {
  local probe why
  probe=$(glmire_i386_probe)
  case $probe in
    native) ;;
    emulated*) echo "this machine runs 32-bit programs only emulated: ${probe#emulated }"; return ;;
    *) echo "this machine runs no 32-bit programs (${probe#refused })"; return ;;
  esac
  if [ ! -e /usr/lib/wine/wine ]; then echo "/usr/lib/wine/wine is not installed (wine32:i386)"; return; fi
  why=$(/usr/lib/wine/wine --version 2>&1 | tail -1)
  echo "/usr/lib/wine/wine does not run (${why:-no answer})"
}

# The Windows build a script should run here: sets GLMIRE_PRESET (windows or
# windows-x64), GLMIRE_WINE_ARCH and GLMIRE_PICK_REASON; fails with a one-line
# message when Wine can run neither.
glmire_pick_build() {
  if glmire_runs_32bit; then
    GLMIRE_PRESET=windows GLMIRE_WINE_ARCH=win32
    GLMIRE_PICK_REASON="the PE32 build: this machine runs 32-bit programs"
  elif /usr/lib/wine/wine64 --version >/dev/null 2>&1; then
    GLMIRE_PRESET=windows-x64 GLMIRE_WINE_ARCH=win64
    GLMIRE_PICK_REASON="the x64 build: $(glmire_32bit_reason)"
  else
    echo "wine-env: no Wine can run here: /usr/lib/wine/wine and /usr/lib/wine/wine64 both fail (is wine installed?)" >&2
    return 1
  fi
  export GLMIRE_WINE_ARCH
}
