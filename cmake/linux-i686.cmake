# The portable core as 32-bit Linux programs (gcc -m32, Debian's multilib):
# the PE32's pointers, size_t and calling convention, on machines where no
# 32-bit Windows code runs. The processor is named i686 so that the core gets
# the PE32's compile options (cmake/ProductCode.cmake) and its vector loops
# their own (effect/CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# No position-independent code, as in the PE32: on i386 it costs a register
# for the GOT, and with it the vector loop's register use and stack spills.
set(CMAKE_C_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_CXX_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -no-pie")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(GLMIRE_LINUX_I386 TRUE)

# The programs run as they are where the kernel runs 32-bit programs itself;
# elsewhere (and where binfmt_misc would hand them to an emulator of its own
# choosing) under qemu-i386 as a processor with SSE2, so every vector case
# runs. Nothing is registered with the system for it.
# Core Duo: a 32-bit processor with SSE2 (and SSE3), the nearest qemu-i386 has
# to the Pentium 4; its Pentium III, without SSE2, shows that no vector case
# can pass here by being skipped (tests/CMakeLists.txt).
set(GLMIRE_I386_CPU coreduo)
if(NOT DEFINED GLMIRE_I386_PROBE)
  execute_process(COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/../scripts/i386-probe.sh
                  OUTPUT_VARIABLE GLMIRE_I386_PROBE OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()
find_program(GLMIRE_QEMU_I386 qemu-i386)
if(GLMIRE_I386_PROBE STREQUAL "native")
  set(CMAKE_CROSSCOMPILING_EMULATOR "")
elseif(GLMIRE_QEMU_I386)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${GLMIRE_QEMU_I386} -cpu ${GLMIRE_I386_CPU})
else()
  message(FATAL_ERROR "The i386 tree cannot run its tests here: the kernel does not run i386 "
                      "programs itself (${GLMIRE_I386_PROBE}) and qemu-i386 (package qemu-user) "
                      "is not installed.")
endif()
