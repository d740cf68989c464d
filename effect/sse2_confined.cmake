# Fails when any function of IMAGE but ShadeRectSse2 uses an SSE or SSE2
# instruction: such code could run before the CPUID check (or on a processor
# without SSE2) and fault there. A stray -msse2 or an inline function emitted
# by the vector file would both show up here, on any processor.
#   cmake -DOBJDUMP=... -DIMAGE=... -DDUMP=... -P sse2_confined.cmake
execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${IMAGE} OUTPUT_FILE ${DUMP}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${IMAGE}")
endif()
file(STRINGS ${DUMP} lines REGEX "^[0-9a-f]+ <|%x?mm[0-9]|[lm]fence|movnti|clflush|maskmov")
set(function "")
set(offenders "")
set(vectorLines 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ <([^>]+)>:")
    set(function ${CMAKE_MATCH_1})
  elseif(function MATCHES "ShadeRectSse2")
    math(EXPR vectorLines "${vectorLines} + 1")
  else()
    list(APPEND offenders ${function})
  endif()
endforeach()
list(REMOVE_DUPLICATES offenders)
if(offenders)
  message(FATAL_ERROR "SSE instructions outside the vector loop: ${offenders}")
endif()
# The check means nothing if the vector loop itself was not found.
if(vectorLines EQUAL 0)
  message(FATAL_ERROR "no SSE2 code in ShadeRectSse2 of ${IMAGE}")
endif()
message(STATUS "${vectorLines} SSE2 instructions, all in ShadeRectSse2")
