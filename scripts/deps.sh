#!/usr/bin/env bash
# Installs the Debian packages the build, the saver run and the tests need.
# Idempotent and quiet: does nothing when every package is already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  libgtest-dev googletest libbenchmark-dev
  # The core as 32-bit Linux programs, and qemu-i386 where the kernel runs none
  # (installed without the binfmt registration it recommends).
  g++-multilib qemu-user
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine64 libxinerama1
  xvfb openbox xdotool x11-apps x11-utils x11-xserver-utils imagemagick feh
  python3 python3-pil python3-numpy
  procps psmisc
  locales  # ja_JP, from which the code-page test makes its own locale
)

# Wine's 32-bit side, for the PE32: only where the kernel itself runs 32-bit
# programs (a machine that runs none, or only through an emulator, cannot use
# it), and asked only once g++-multilib has brought the i386 loader to ask with.
packages_i386=(wine32:i386 libxinerama1:i386)

source "$(dirname "${BASH_SOURCE[0]}")/i386-probe.sh"
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
export DEBIAN_FRONTEND=noninteractive

# The packages of those named that are not installed, one a line.
missing() {
  local p status
  # A package installed for both architectures answers once for each.
  for p in "$@"; do
    status=$(dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null) || status=""
    [ -n "$status" ] && ! grep -qv '^install ok installed$' <<<"$status" || echo "$p"
  done
}

install() {  # install <package...>
  [ $# -eq 0 ] && return 0
  echo "Installing: $*" >&2
  # A mirror caught mid-sync fails one index of many; the install below tells
  # whether what could be read is enough.
  "${sudo[@]}" apt-get update -qq >/dev/null ||
    echo "deps: apt-get update failed (above); installing from the package lists it could read" >&2
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

mapfile -t need < <(missing "${packages[@]}")
install "${need[@]}"
[ "$(glmire_i386_probe)" = native ] || exit 0
mapfile -t need < <(missing "${packages_i386[@]}")
[ ${#need[@]} -eq 0 ] && exit 0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
# Without it the scripts run the x64 build under Wine and say why the PE32's
# suite did not run; a registry that cannot pair the i386 libraries with the
# installed ones (a security suite whose i386 index is missing) is no reason to
# run nothing.
install "${need[@]}" ||
  echo "deps: Wine's 32-bit side could not be installed (above); Wine runs the x64 build instead" >&2
