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

# The saver's own code: no exceptions, no RTTI, old enough subsystem for the 9x family.
function(glmire_win32_product target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
endfunction()
