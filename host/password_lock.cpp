#include "host/password_lock.h"

#include <cstdint>
#include <cstring>

#include "effect/system_entry.h"
#include "host/saver_state.h"

namespace {

// Verifier runs closer together than this are dropped: one refused password
// must not be asked again for the key that the user is still releasing.
constexpr DWORD MinimumCheckSpacing = 200;
constexpr uint32_t NeverChecked = 0xFFFFFFFFu;

typedef DWORD(WINAPI* ChangePasswordProc)(LPCSTR provider, HWND owner, DWORD reserved1,
                                          DWORD reserved2);

// The verifier and the change service are system files. Loading them by bare
// name would search the saver's own folder and the current folder first, so a
// file planted there would run with the user's password in hand.
HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  const size_t nameLength = std::strlen(name);
  if (length == 0 || length + 1 + nameLength + 1 > MAX_PATH) return nullptr;
  UINT end = length;
  if (path[end - 1] != '\\') path[end++] = '\\';
  std::memcpy(path + end, name, nameLength + 1);
  return LoadLibraryA(path);
}

// The value's type is not looked at: its first four bytes, read as one
// little-endian number, decide; a shorter value counts with zeros after it.
bool PasswordsAreOn(HKEY desktop) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  DWORD size = sizeof bytes;
  if (RegQueryValueExA(desktop, "ScreenSaveUsePassword", nullptr, nullptr, bytes, &size) !=
      ERROR_SUCCESS) {
    return false;
  }
  const uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                         static_cast<uint32_t>(bytes[2]) << 16 |
                         static_cast<uint32_t>(bytes[3]) << 24;
  return value != 0;
}

void LoadVerifier() {
  saverState.passwordLibrary = LoadSystemLibrary("PASSWORD.CPL");
  if (saverState.passwordLibrary == nullptr) return;
  saverState.verifyPassword =
      SystemEntry<VerifyPasswordProc>(saverState.passwordLibrary, "VerifyScreenSavePwd");
  if (saverState.verifyPassword != nullptr) {
    SetSaverRunning(true);
  } else {
    UnhookPasswordLibrary();
  }
}

// Ticks already queued would be dispatched inside the verifier's dialog loop
// before the dialog has drawn itself; the next two are dropped to let it come up.
void DropPendingTimerTicks(HWND window) {
  MSG pending;
  PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
  PeekMessageA(&pending, window, WM_TIMER, WM_TIMER, PM_REMOVE | PM_NOYIELD);
}

}  // namespace

void HookPasswordLibrary() {
  if (!saverState.isWin9x) return;
  if (saverState.passwordLibrary != nullptr) UnhookPasswordLibrary();
  HKEY desktop = nullptr;
  if (RegOpenKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &desktop) != ERROR_SUCCESS) return;
  if (PasswordsAreOn(desktop)) LoadVerifier();
  RegCloseKey(desktop);
}

void UnhookPasswordLibrary() {
  if (!saverState.isWin9x || saverState.passwordLibrary == nullptr) return;
  FreeLibrary(saverState.passwordLibrary);
  saverState.passwordLibrary = nullptr;
  if (saverState.verifyPassword != nullptr) {
    saverState.verifyPassword = nullptr;
    SetSaverRunning(false);
  }
}

BOOL VerifyBeforeClose(HWND window) {
  // A close request that arrives while the verifier's dialog is up, or after
  // closing was allowed, is answered by the run already under way.
  if (saverState.isCheckingPassword || saverState.isClosing) return FALSE;
  if (saverState.verifyPassword == nullptr) {
    saverState.isClosing = 1;
    return TRUE;
  }
  const uint32_t now = GetTickCount();
  if (saverState.lastPasswordCheck != NeverChecked &&
      now - saverState.lastPasswordCheck < MinimumCheckSpacing) {
    return saverState.isClosing;
  }
  saverState.isCheckingPassword = 1;
  DropPendingTimerTicks(window);
  // Sent, not called: the verifier runs inside the window's own message
  // handling, which keeps input away from the close rules meanwhile.
  saverState.isClosing = SendMessageA(window, VerifyPasswordMessage, 0, 0) != 0 ? 1 : 0;
  saverState.isCheckingPassword = 0;
  // The verifier's dialog showed the cursor; the saver goes on without it.
  if (!saverState.isClosing) SetCursor(nullptr);
  // Measured from the verifier's return, so time spent typing does not count.
  saverState.lastPasswordCheck = GetTickCount();
  return saverState.isClosing;
}

void ChangePassword(HWND owner) {
  HMODULE library = LoadSystemLibrary("MPR.DLL");
  if (library == nullptr) return;
  ChangePasswordProc change = SystemEntry<ChangePasswordProc>(library, "PwdChangePasswordA");
  if (change != nullptr) change("SCRSAVE", owner, 0, 0);
  FreeLibrary(library);
}
