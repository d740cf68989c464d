// Process entry: cut the command tail out of the command line and run the saver.
#include <windows.h>

#include "host/command_tail.h"
#include "host/mode_dispatch.h"

namespace {
const char* NextCharacter(const char* p) { return CharNextA(p); }
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The runtime's own split of the command line is not ours: the host's rules
  // for the program name and the switches are applied here.
  const char* tail = SkipProgramName(GetCommandLineA(), NextCharacter);
  ExitProcess(static_cast<UINT>(RunSaver(GetModuleHandleA(nullptr), tail)));
}
