#!/usr/bin/env bash
# scripts/i386-probe.sh against stand-ins: a loader that the kernel runs
# (a 64-bit program in its place), one that an emulator runs (qemu-i386 in
# front of the real one, as binfmt_misc would put it), one that is missing,
# and binfmt_misc folders with and without a handler for i386 programs.
# The test command starts the PE32 Wine suite only on "native".
# probe_test.sh <qemu-i386>
set -u
qemu=$1
# The machine's own answer is what this tests, whatever the test command was asked to play.
unset GLMIRE_NO_32BIT
source "$(dirname "$0")/../../scripts/wine-env.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Run by the probe's own shell: the probe looks past its shell, and a stand-in
# run by another one (sh) could be caught as that shell before its exec.
printf '#!%s\nexec %s /lib/ld-linux.so.2 "$@"\n' "$(readlink -f "$BASH")" "$qemu" >"$work/emulated-loader"
chmod +x "$work/emulated-loader"
mkdir "$work/handlers" "$work/none"
touch "$work/handlers/register" "$work/handlers/status" "$work/none/register" "$work/none/status"
handler() {  # handler <name> <enabled|disabled> <interpreter> <magic>
  printf '%s\ninterpreter %s\nflags: F\noffset 0\nmagic %s\nmask ffffffffffffffffffffffffffffffffffffffff\n' \
    "$2" "$3" "$4" >"$work/handlers/$1"
}
i386_magic=7f454c4601010100000000000000000002000300
handler qemu-i386 enabled /usr/bin/qemu-i386-static "$i386_magic"
handler i386-by-magic enabled /opt/emu/run32 "$i386_magic"
handler qemu-i386-off disabled /usr/bin/qemu-i386-static "$i386_magic"
handler qemu-arm enabled /usr/bin/qemu-arm-static 7f454c4601010100000000000000000002002800

failures=0
expect() {  # expect <what> <loader> <binfmt dir> <pattern>
  local out
  out=$(GLMIRE_I386_LOADER=$2 GLMIRE_BINFMT_DIR=$3 glmire_i386_probe)
  if [[ $out == $4 ]]; then
    echo "ok: $1: $out"
  else
    echo "FAILED: $1: got \"$out\", expected $4"
    failures=$((failures + 1))
  fi
}
expect "the kernel runs the loader" /bin/cat "$work/none" "native"
expect "an emulator runs it, its handlers named" "$work/emulated-loader" "$work/handlers" \
  "emulated binfmt_misc hands them to $(readlink -f "$qemu") (handler i386-by-magic: /opt/emu/run32; qemu-i386: /usr/bin/qemu-i386-static)"
expect "an emulator runs it, no handler to be seen" "$work/emulated-loader" "$work/none" \
  "emulated binfmt_misc hands them to $(readlink -f "$qemu")"
expect "no loader" "$work/missing" "$work/none" "refused $work/missing is not installed*"
GLMIRE_NO_32BIT=1 expect "told to play a machine without them" /bin/cat "$work/none" "refused GLMIRE_NO_32BIT is set"
# An emulated machine is no machine for the PE32 suite, and its "not run" line says why.
if GLMIRE_I386_LOADER=$work/emulated-loader glmire_runs_32bit; then
  echo "FAILED: an emulated loader was taken for a kernel that runs 32-bit programs"
  failures=$((failures + 1))
fi
reason=$(GLMIRE_I386_LOADER=$work/emulated-loader GLMIRE_BINFMT_DIR=$work/handlers glmire_32bit_reason)
if [[ $reason == "this machine runs 32-bit programs only emulated: binfmt_misc hands them to "*"(handler "*qemu-i386*")" ]]; then
  echo "ok: the reason: $reason"
else
  echo "FAILED: the reason: $reason"
  failures=$((failures + 1))
fi
# What the machine itself says: one of the three.
expect "this machine" /lib/ld-linux.so.2 /proc/sys/fs/binfmt_misc "@(native|emulated *|refused *)"
[ "$failures" -eq 0 ]
