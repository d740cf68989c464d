// Entries of system libraries that the oldest systems lack, looked up at run
// time: the saver imports only what Windows 95 and NT 4.0 both implement. The
// host's optional services are found here too.
#pragma once
#include <windows.h>

// GetProcAddress hands back a generic entry; going through a pointer to a
// function without arguments keeps the compiler from judging the casts.
typedef void (*SystemProc)();

// name's entry in library; null when either is missing.
SystemProc FindSystemProc(HMODULE library, const char* name);

template <typename Entry>
Entry SystemEntry(HMODULE library, const char* name) {
  return reinterpret_cast<Entry>(FindSystemProc(library, name));
}

// The same in a library the process already has (KERNEL32.DLL, USER32.DLL).
template <typename Entry>
Entry SystemEntry(const char* library, const char* name) {
  return SystemEntry<Entry>(GetModuleHandleA(library), name);
}
