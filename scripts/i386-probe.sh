#!/usr/bin/env bash
# How this machine runs i386 Linux programs, asked of the kernel itself. Run
# it, or source it and call glmire_i386_probe; it prints one line:
#   native                the kernel runs them
#   emulated <how>        they run, but through an emulator that binfmt_misc
#                         hands them to (a qemu-i386 registered for them)
#   refused <why>         they do not run at all
# An emulated run looks like a native one from inside and by its exit status,
# and Wine's PE32 suite never finishes under emulation; only the process the
# kernel actually started tells them apart. The i386 dynamic loader, run as a
# program on a FIFO that nobody writes, waits in its first open() long enough
# to be looked at: /proc/PID/exe is the loader itself when the kernel runs
# it, the emulator when binfmt_misc does.
# GLMIRE_I386_LOADER and GLMIRE_BINFMT_DIR stand in for /lib/ld-linux.so.2 and
# /proc/sys/fs/binfmt_misc (for the probe's own test).
# GLMIRE_NO_32BIT=1 makes it answer "refused" whatever the kernel does: the
# build, run and test scripts then do what they do on a machine whose kernel
# runs no 32-bit programs (the x64 image under Wine, the i386 core under
# qemu-i386), so that kind of machine can be tried on this one.

# The enabled binfmt_misc handlers that take i386 ELF programs, one
# "name: interpreter" a line: those whose magic is an i386 ELF header, or
# whose interpreter is a qemu-i386. Where binfmt_misc is not mounted (a
# container may still inherit the host's handlers) this finds none.
glmire_i386_handlers() {
  local dir=${GLMIRE_BINFMT_DIR:-/proc/sys/fs/binfmt_misc} entry interpreter magic
  for entry in "$dir"/*; do
    case ${entry##*/} in register | status) continue ;; esac
    [ -f "$entry" ] && [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
    interpreter=$(sed -n 's/^interpreter //p' "$entry")
    magic=$(sed -n 's/^magic //p' "$entry")
    # ELF, 32-bit, little-endian; e_machine 3 (i386) is bytes 18 and 19.
    if [[ $magic == 7f454c4601* && ${magic:36:4} == 0300 ]] || [[ ${interpreter##*/} == qemu-i386* ]]; then
      echo "${entry##*/}: $interpreter"
    fi
  done
  return 0
}

glmire_i386_probe() {
  local loader=${GLMIRE_I386_LOADER:-/lib/ld-linux.so.2} work pid exe self i why handlers
  if [ -n "${GLMIRE_NO_32BIT:-}" ]; then
    echo "refused GLMIRE_NO_32BIT is set"
    return 0
  fi
  if [ ! -e "$loader" ]; then
    echo "refused $loader is not installed (libc6:i386)"
    return 0
  fi
  work=$(mktemp -d) || return 1
  mkfifo "$work/wait"
  self=$(readlink /proc/$$/exe)
  "$loader" "$work/wait" </dev/null >/dev/null 2>"$work/err" &
  pid=$!
  # Until the exec, /proc/PID/exe is this shell; a refused exec ends the child.
  exe=$self
  for i in $(seq 500); do
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || { exe=; break; }
    [ "$exe" != "$self" ] && break
    sleep 0.01
  done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  why=$(tail -n 1 "$work/err" | sed 's/^.*: \([^:]*\)$/\1/')
  rm -rf "$work"
  if [ -z "$exe" ]; then
    echo "refused $loader: ${why:-it did not start}"
  elif [ "$exe" = "$self" ]; then
    echo "refused $loader had not started after 5 s"
  elif [ "$exe" = "$(readlink -f "$loader")" ]; then
    echo native
  else
    handlers=$(glmire_i386_handlers | paste -sd ';' | sed 's/;/; /g')
    echo "emulated binfmt_misc hands them to $exe${handlers:+ (handler $handlers)}"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  glmire_i386_probe
fi
