// Stand-ins for the 9x family's password services, which Wine does not have
// (or has as inert stubs). Built twice: as the verifier (VerifyScreenSavePwd,
// planted as PASSWORD.CPL) and as the change service (PwdChangePasswordA,
// planted as MPR.DLL). Either one writes what happens to it to the file named
// by GLMIRE_STUB_LOG, one line per event:
//   attach <path of the file that was loaded>
//   verify window=<n> running=<system's saver-running state> answer=<0|1>
//   change provider=<text> owner=<n> foreground=<n> reserved=<n>,<n>
//   detach
// The verifier's answer is the first byte of the file named by
// GLMIRE_STUB_ANSWER ('1' accepts, anything else or no file refuses); a 'k'
// as second byte posts a key press to the saver window as the verifier returns.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

void Log(const char* format, ...) {
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("GLMIRE_STUB_LOG", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  char line[MAX_PATH + 128];
  va_list args;
  va_start(args, format);
  const int size = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (size <= 0) return;
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  const DWORD count = static_cast<DWORD>(size) < sizeof line ? static_cast<DWORD>(size)
                                                             : static_cast<DWORD>(sizeof line - 1);
  WriteFile(file, line, count, &written, nullptr);
  CloseHandle(file);
}

unsigned long Number(HWND window) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window));
}

}  // namespace

#ifdef STUB_VERIFIER
namespace {

// The answer file's first two bytes, or "0" when there is none.
void ReadAnswer(char answer[2]) {
  answer[0] = '0';
  answer[1] = 0;
  char path[MAX_PATH];
  const DWORD length = GetEnvironmentVariableA("GLMIRE_STUB_ANSWER", path, sizeof path);
  if (length == 0 || length >= sizeof path) return;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD read = 0;
  ReadFile(file, answer, 2, &read, nullptr);
  CloseHandle(file);
  if (read < 2) answer[1] = 0;
}

}  // namespace

extern "C" __declspec(dllexport) BOOL WINAPI VerifyScreenSavePwd(HWND window) {
  // 114 = SPI_GETSCREENSAVERRUNNING, newer than the headers this is built with.
  BOOL running = FALSE;
  SystemParametersInfoA(114, 0, &running, 0);
  char answer[2];
  ReadAnswer(answer);
  const BOOL accepted = answer[0] == '1';
  Log("verify window=%lu running=%d answer=%d\n", Number(window), running ? 1 : 0, accepted ? 1 : 0);
  if (answer[1] == 'k') PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0x00390001);
  return accepted;
}
#endif

#ifdef STUB_CHANGE_SERVICE
extern "C" __declspec(dllexport) DWORD WINAPI PwdChangePasswordA(LPCSTR provider, HWND owner,
                                                                 DWORD reserved1, DWORD reserved2) {
  Log("change provider=%s owner=%lu foreground=%lu reserved=%lu,%lu\n",
      provider != nullptr ? provider : "(null)", Number(owner), Number(GetForegroundWindow()),
      static_cast<unsigned long>(reserved1), static_cast<unsigned long>(reserved2));
  return 0;
}
#endif

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(instance, path, sizeof path);
    Log("attach %s\n", path);
  } else if (reason == DLL_PROCESS_DETACH) {
    Log("detach\n");
  }
  return TRUE;
}
