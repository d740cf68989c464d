# Fails when a function of IMAGE could fault on the oldest processor the saver
# runs on, an i486:
# - any function but the two vector loops (ShadeRectSse2, ShadeCopyRectSse2)
#   with an SSE or MMX instruction: it could run before the CPUID check (or on
#   a processor without SSE2). A stray -msse2 or an inline function emitted by
#   the vector file would both show up here.
# - any function but the vector loops with an instruction newer than the i486:
#   cmov, fcmov, fcomi/fucomi, multi-byte nop padding, rdtsc, cmpxchg8b and
#   the like (prebuilt runtime objects or a compiler left at its default
#   Pentium Pro target bring them in).
# - a global constructor: the saver has no runtime start-up to run it.
# IMAGE must still carry its symbols, or no function can be named. LOOPS
# names the functions allowed SSE2 (default the saver's two; empty for an
# image with no vector code at all, such as mkshademap.exe).
#   cmake -DOBJDUMP=... -DIMAGE=... -DDUMP=... [-DLOOPS=...] -P instruction_floor.cmake
cmake_minimum_required(VERSION 3.25)  # IN_LIST
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${IMAGE} OUTPUT_FILE ${DUMP}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${IMAGE}")
endif()
set(vector "%x?mm[0-9]|[lms]fence|movnti|clflush|maskmov|emms|prefetch|[ls]dmxcsr|fxsave|fxrstor")
set(prefixes "(lock |rep[a-z]* |[c-gs]s |data16 |addr32 )*")
set(newer "(cmov[a-z]+|fcmov[a-z]+|fu?comip?|rdtscp?|rdpmc|cmpxchg8b|sysenter|sysexit|nop[lw]|endbr32|popcnt|lzcnt|tzcnt|movbe|crc32[a-z]*)( |$)")
file(STRINGS ${DUMP} lines REGEX "^[0-9a-f]+ <|${vector}|:\t${prefixes}${newer}")
# The loops by their mangled names, so that nothing else that merely contains
# one of the names passes.
if(NOT DEFINED LOOPS)
  set(LOOPS ShadeRectSse2 ShadeCopyRectSse2)
endif()
if(LOOPS)
  list(JOIN LOOPS "|" names)
  set(loops "^_+Z[0-9]+(${names})P")
else()
  set(loops "^<none>$")  # no function is named so
endif()
set(function "")
set(offenders "")
set(vectorLines 0)
set(loopsSeen "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ <([^>]+)>:")
    set(function ${CMAKE_MATCH_1})
    if(function MATCHES "GLOBAL__sub_I_")
      list(APPEND offenders "${function} (a global constructor nothing would run)")
    endif()
  elseif(function MATCHES "${loops}")
    math(EXPR vectorLines "${vectorLines} + 1")
    list(APPEND loopsSeen ${CMAKE_MATCH_1})
  elseif(line MATCHES ":\t${prefixes}${newer}")
    list(APPEND offenders "${function} (${CMAKE_MATCH_2})")
  else()
    list(APPEND offenders "${function} (SSE/MMX)")
  endif()
endforeach()
list(REMOVE_DUPLICATES offenders)
if(offenders)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "code an i486 (or a processor without SSE2) cannot run outside the "
                      "vector loop, or that would never run:\n  ${text}")
endif()
# The check means nothing if a vector loop itself was not found.
list(REMOVE_DUPLICATES loopsSeen)
foreach(loop IN LISTS LOOPS)
  if(NOT loop IN_LIST loopsSeen)
    message(FATAL_ERROR "no SSE2 code in ${loop} of ${IMAGE}")
  endif()
endforeach()
if(LOOPS)
  list(JOIN LOOPS " and " names)
  message(STATUS "i486 code throughout; ${vectorLines} SSE2 instructions, all in ${names}")
else()
  message(STATUS "i486 code throughout, no vector code")
endif()
