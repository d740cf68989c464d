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

# The date the shipped images carry in their headers: the commit's, never the
# build's, so that anyone who builds the same commit gets the same bytes.
# SOURCE_DATE_EPOCH, where a distribution sets it, wins.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(GLMIRE_SOURCE_DATE "$ENV{SOURCE_DATE_EPOCH}")
  set(date_origin "SOURCE_DATE_EPOCH")
else()
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
                  OUTPUT_VARIABLE GLMIRE_SOURCE_DATE ERROR_VARIABLE date_error
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(date_origin "the checked-out commit (git log -1 --format=%ct: ${date_error})")
  # A commit moves HEAD and adds a line to its log: the tree configures again
  # and the images are linked with the new date.
  execute_process(COMMAND git rev-parse --path-format=absolute --git-path HEAD --git-path logs/HEAD
                  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE head_files ERROR_QUIET
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REPLACE "\n" ";" head_files "${head_files}")
  foreach(head_file IN LISTS head_files)
    if(EXISTS ${head_file})
      set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${head_file})
    endif()
  endforeach()
endif()
# The PE time stamp is 32 bits; 0 is what a link without a date writes.
if(NOT GLMIRE_SOURCE_DATE MATCHES "^[1-9][0-9]*$" OR GLMIRE_SOURCE_DATE GREATER 4294967295)
  message(FATAL_ERROR "No date for the shipped images from ${date_origin}: '${GLMIRE_SOURCE_DATE}'. "
                      "Build a git checkout, or set SOURCE_DATE_EPOCH to the sources' date in seconds.")
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
# target file itself is stripped. The linker and strip each write the image's
# time stamp, both from SOURCE_DATE_EPOCH (else the time they run), and the
# checksum over it.
function(glmire_win32_saver target entry)
  set(dated ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${GLMIRE_SOURCE_DATE})
  target_link_options(${target} PRIVATE -nostdlib -Wl,--entry,${GLMIRE_SYMBOL_PREFIX}${entry})
  set_target_properties(${target} PROPERTIES CXX_LINKER_LAUNCHER "${dated}")
  target_link_libraries(${target} PRIVATE kernel32 user32 gdi32 advapi32)
  set(symbols ${CMAKE_CURRENT_BINARY_DIR}/${target}.symbols.scr)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${target}> ${symbols}
    COMMAND ${dated} ${CMAKE_STRIP} --strip-all $<TARGET_FILE:${target}>
    BYPRODUCTS ${symbols}
    VERBATIM)
  set_target_properties(${target} PROPERTIES GLMIRE_SYMBOLS_FILE ${symbols})
endfunction()
