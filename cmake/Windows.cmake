# Settings shared by every Win32 target of the saver.

# Keep the headers to what both families (9x and NT 4) offer.
add_compile_definitions(WINVER=0x0400 _WIN32_WINNT=0x0400 _WIN32_WINDOWS=0x0410
                        WIN32_LEAN_AND_MEAN NOMINMAX STRICT)

# Tests run their Windows binaries under Wine through this wrapper: it makes the
# build tree's private prefix and X display on first use.
set(GLMIRE_WINE_ROOT ${CMAKE_BINARY_DIR}/wine)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(GLMIRE_WINE_ARCH win64)
  # Address space (ulimit -v) for the 64-bit tests that stand in for a 32-bit
  # process: Wine's own start needs under 2 GB of it, and then no allocation
  # near 2 GiB fits, as in a 32-bit process.
  set(GLMIRE_X64_ADDRESS_LIMIT_KB 3000000)
else()
  set(GLMIRE_WINE_ARCH win32)
endif()
configure_file(${CMAKE_SOURCE_DIR}/cmake/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# What differs between the 32-bit and the 64-bit saver, in one place.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(i[3-6]86|x86)$")
  # The PE32 saver: Windows 95 and NT 4.0 onwards (its import and instruction checks).
  set(GLMIRE_PE32 TRUE)
  # A second prefix, win64, in which the PE32 runs as 64-bit Windows runs it
  # (WoW64: a syswow64 system folder, file-system redirection).
  set(GLMIRE_WOW64_ROOT ${CMAKE_BINARY_DIR}/wine64)
  # C symbols carry a leading underscore on i386.
  set(GLMIRE_SYMBOL_PREFIX "_")
  # The 9x family and NT 4 refuse images that ask for a newer subsystem.
  set(GLMIRE_SUBSYSTEM_VERSION 4 0)
  # The side-by-side loader refuses to start an image whose manifest names
  # another processor.
  set(GLMIRE_MANIFEST_ARCH x86)
else()
  set(GLMIRE_PE32 FALSE)
  set(GLMIRE_SYMBOL_PREFIX "")
  # The oldest 64-bit Windows (XP x64, Server 2003) is 5.2.
  set(GLMIRE_SUBSYSTEM_VERSION 5 2)
  set(GLMIRE_MANIFEST_ARCH amd64)
endif()

# The saver's own code (the test programs link the same libraries).
include(${CMAKE_CURRENT_LIST_DIR}/ProductCode.cmake)
function(glmire_win32_product target)
  glmire_product_code(${target})
endfunction()

# The saver links neither the C runtime nor libgcc/libstdc++: msvcrt.dll is
# missing on the first Windows 95, the C++ runtime imports wide-character
# calls that are stubs on the 9x family, and the prebuilt runtime objects
# assume a Pentium Pro. The process starts at entry (extern "C", no
# arguments, never returns). Symbols of the linked image stay in
# <target>.symbols.scr beside the build files for the disassembly checks; the
# target file itself is stripped.
function(glmire_win32_saver target entry)
  target_link_options(${target} PRIVATE -nostdlib -Wl,--entry,${GLMIRE_SYMBOL_PREFIX}${entry})
  target_link_libraries(${target} PRIVATE kernel32 user32 gdi32 advapi32)
  set(symbols ${CMAKE_CURRENT_BINARY_DIR}/${target}.symbols.scr)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${symbols}
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    BYPRODUCTS ${symbols}
    VERBATIM)
  set_target_properties(${target} PROPERTIES GLMIRE_SYMBOLS_FILE ${symbols})
endfunction()
