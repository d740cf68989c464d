// launch.exe: starts the command line in the environment variable
// LAUNCH_COMMAND_LINE exactly as given (quotes, tabs and all), in the folder
// LAUNCH_DIRECTORY when set, waits for it and prints its exit code as a signed
// decimal. Wine re-quotes Unix arguments and lets the Unix side see only the
// low 8 bits of an exit code; this sees both exactly.
#include <windows.h>

#include <cstdio>

int main() {
  static char line[32768];
  const DWORD length = GetEnvironmentVariableA("LAUNCH_COMMAND_LINE", line, sizeof line);
  if (length == 0 || length >= sizeof line) {
    std::fprintf(stderr, "launch: LAUNCH_COMMAND_LINE is not set\n");
    return 2;
  }
  static char directory[MAX_PATH];
  const DWORD dirLength = GetEnvironmentVariableA("LAUNCH_DIRECTORY", directory, sizeof directory);
  const char* workDir = dirLength > 0 && dirLength < sizeof directory ? directory : nullptr;

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, workDir, &startup,
                      &process)) {
    std::fprintf(stderr, "launch: CreateProcess failed (%lu)\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("%ld\n", static_cast<long>(static_cast<LONG>(code)));
  std::fflush(stdout);
  return 0;
}
