// Process entry: cut the command tail out of the command line and run the saver.
// The system calls this directly; no runtime start-up runs before it, so it
// must not rely on anything such a start-up would prepare (global
// constructors, the C library's heap or stdio).
#include <windows.h>

#include "host/command_tail.h"
#include "host/mode_dispatch.h"

namespace {
const char* NextCharacter(const char* p) { return CharNextA(p); }
}  // namespace

extern "C" __attribute__((noreturn)) void StartSaverProcess() {
  const char* tail = SkipProgramName(GetCommandLineA(), NextCharacter);
  ExitProcess(static_cast<UINT>(RunSaver(GetModuleHandleA(nullptr), tail)));
}
