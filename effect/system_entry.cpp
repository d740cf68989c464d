#include "effect/system_entry.h"

SystemProc FindSystemProc(HMODULE library, const char* name) {
  return library != nullptr ? reinterpret_cast<SystemProc>(GetProcAddress(library, name)) : nullptr;
}
