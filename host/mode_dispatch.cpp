#include "host/mode_dispatch.h"

#include "host/about_dialog.h"
#include "host/command_tail.h"
#include "host/fault_guard.h"
#include "host/password_lock.h"
#include "host/saver_state.h"
#include "host/saver_window.h"

namespace {

HWND WindowFromNumber(uint32_t number) {
  return reinterpret_cast<HWND>(static_cast<uintptr_t>(number));
}

struct ModeCall {
  ModeChoice choice;
  const SaverModes* modes;
};

int32_t RunMode(void* context) {
  const ModeChoice choice = static_cast<const ModeCall*>(context)->choice;
  const SaverModes* modes = static_cast<const ModeCall*>(context)->modes;
  switch (choice.mode) {
    case SaverMode::AboutUnowned:
      return modes->showAboutDialog(nullptr);
    case SaverMode::AboutOwned:
      return modes->showAboutDialog(GetForegroundWindow());
    case SaverMode::FullScreen:
      return modes->runSaverWindow(nullptr);
    case SaverMode::Preview: {
      HWND parent = WindowFromNumber(choice.handle);
      if (parent == nullptr || !IsWindow(parent)) return -1;
      return modes->runSaverWindow(parent);
    }
    case SaverMode::ChangePassword: {
      if (!saverState.isWin9x) return -1;
      HWND owner = WindowFromNumber(choice.handle);
      if (owner == nullptr || !IsWindow(owner)) owner = GetForegroundWindow();
      modes->changePassword(owner);
      return 0;
    }
    case SaverMode::Invalid:
      break;
  }
  return -1;
}

// The larger record is known only from NT 5 on; the call fails with it elsewhere.
static_assert(sizeof(OSVERSIONINFOA) == 148, "GetVersionExA needs the 148-byte record");

bool IsWin9xFamily() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

}  // namespace

int32_t RunSaver(HINSTANCE instance, const char* tail) {
  static const SaverModes modes = {RunSaverWindow, ShowAboutDialog, ChangePassword};
  return RunSaverWithModes(instance, tail, &modes);
}

int32_t RunSaverWithModes(HINSTANCE instance, const char* tail, const SaverModes* modes) {
  saverState.instance = instance;
  saverState.isWin9x = IsWin9xFamily() ? 1 : 0;
  ModeCall call = {ParseCommandTail(tail), modes};
  int32_t result = -1;
  uint32_t faultCode = 0;
  if (RunGuarded(RunMode, &call, &result, &faultCode) != 0) {
    SetSaverRunning(false);
    return static_cast<int32_t>(faultCode);
  }
  return result;
}
