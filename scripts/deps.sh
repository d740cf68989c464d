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
"${sudo[@]}" apt-get update -qq >/dev/null 2>&1 ||
  echo "deps: apt-get update failed for some index; pairing from the package lists it could read" >&2

# Wine's 32-bit side needs i386 twins of many installed amd64 libraries, and a
# library installed for both architectures (Multi-Arch: same) must be at one
# version in both. A registry whose security suite has no readable i386 index
# offers the i386 twins only at the release suite's versions, so the plain plan
# cannot be resolved; the release suite then wins for this one install, through
# a preference file of our own that /etc never sees, and the amd64 partners move
# to the versions the i386 side has. A plan that removes anything is refused:
# what it would remove is asked for as well, and failing that nothing happens.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'Package: *\nPin: release n=%s,l=Debian\nPin-Priority: 1001\n' \
  "$(. /etc/os-release && echo "$VERSION_CODENAME")" >"$work/release.pref"
mkdir "$work/parts"
release_pin=(-o "Dir::Etc::Preferences=$work/release.pref" -o "Dir::Etc::PreferencesParts=$work/parts")

# Simulates installing <package...> with [apt options] before "--"; the plan
# lands in $work/plan. 0 when it resolves and removes nothing.
plan() {  # plan [apt options...] -- <package...>
  local opts=()
  while [ "$1" != -- ]; do opts+=("$1"); shift; done
  shift
  apt-get -s "${opts[@]}" install --no-install-recommends "$@" >"$work/plan" 2>&1 &&
    ! grep -q '^Remv ' "$work/plan"
}

# The first thing in the plan that keeps it from going ahead, as a clause.
plan_fault() {
  local line
  line=$(grep -m 1 '^Remv ' "$work/plan") && { echo "the plan removes ${line#Remv }"; return; }
  line=$(grep -m 1 -E '^ [^ ]+ : (Pre)?Depends: ' "$work/plan") && { echo "unmet: ${line# }"; return; }
  echo "$(grep -m 1 '^E: ' "$work/plan" || echo "apt-get failed")"
}

want=("${need[@]}")
if plan -- "${want[@]}"; then
  opts=()
else
  opts=("${release_pin[@]}" --allow-downgrades)
  # What the pinned plan would remove is kept by naming it, twice at most.
  for round in 1 2 3; do
    plan "${opts[@]}" -- "${want[@]}" && break
    mapfile -t removed < <(sed -n 's/^Remv \([^ ]*\).*/\1/p' "$work/plan")
    if [ "$round" = 3 ] || [ ${#removed[@]} -eq 0 ]; then
      echo "deps: Wine's 32-bit side cannot be paired with the installed libraries ($(plan_fault)); Wine runs the x64 build instead" >&2
      exit 0
    fi
    want+=("${removed[@]}")
  done
  # The pairing: every installed package whose version the plan changes.
  mapfile -t moved < <(sed -n -E 's/^Inst ([^ ]+) \[([^]]+)\] \(([^ ]+) .*/\1 \2 -> \3/p' "$work/plan")
  echo "deps: the i386 libraries are offered only at the release suite's versions; pairing ${#moved[@]} installed packages with them, removing none:" >&2
  printf '  %s\n' "${moved[@]}" >&2
fi
echo "Installing: ${want[*]}" >&2
if ! "${sudo[@]}" apt-get install -y -qq "${opts[@]}" --no-install-recommends "${want[@]}" >"$work/install" 2>&1; then
  tail -n 5 "$work/install" >&2
  echo "deps: Wine's 32-bit side could not be installed (above); Wine runs the x64 build instead" >&2
  exit 0
fi
for loader in /usr/lib/wine/wine /usr/lib/wine/wine64; do
  "$loader" --version >/dev/null 2>&1 ||
    echo "deps: $loader does not answer after the install: $("$loader" --version 2>&1 | tail -n 1)" >&2
done
exit 0
