# How the saver's own code is compiled for the processor at hand. The Windows
# trees compile the saver with it; the native-i386 tree gives the portable
# core the same code generation as the PE32 it ships in, so what runs there
# is what Windows runs.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
  # Faults travel the FS:[0] handler chain here; DWARF unwind tables would
  # only serve C++ exceptions, which the saver does not use.
  set(GLMIRE_UNWIND_OPTIONS -fno-asynchronous-unwind-tables -fno-unwind-tables)
  # The 9x family and NT 4 run on a 486; Debian's compiler would otherwise
  # assume a Pentium Pro (cmov). Scheduling stays tuned for today's machines.
  set(GLMIRE_ARCH_OPTIONS -march=i486 -mtune=generic)
else()
  # The x64 system walks the stack through every function's unwind data.
  set(GLMIRE_UNWIND_OPTIONS)
  set(GLMIRE_ARCH_OPTIONS)
endif()

# The oldest processor, no exceptions, no RTTI, nothing that needs the C++
# runtime (the saver links none, see glmire_win32_saver).
function(glmire_product_code target)
  target_compile_options(${target} PRIVATE ${GLMIRE_ARCH_OPTIONS} -fno-exceptions -fno-rtti
                                           -fno-threadsafe-statics ${GLMIRE_UNWIND_OPTIONS})
endfunction()
