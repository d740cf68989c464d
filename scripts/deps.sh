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
  wine wine32:i386 wine64 libxinerama1 libxinerama1:i386
  xvfb openbox xdotool x11-apps x11-utils x11-xserver-utils imagemagick feh
  python3 python3-pil python3-numpy
  procps psmisc
  locales  # ja_JP, from which the code-page test makes its own locale
)

missing=()
# A package installed for both architectures answers once for each.
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null) || status=""
  [ -n "$status" ] && ! grep -qv '^install ok installed$' <<<"$status" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "Installing: ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq >/dev/null
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
