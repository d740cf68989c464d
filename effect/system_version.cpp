#include "effect/system_version.h"

#include <windows.h>

static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA needs the 148-byte record");

uint32_t NtMajorVersion() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT) return 0;
  return version.dwMajorVersion;
}
