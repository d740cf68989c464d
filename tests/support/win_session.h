// What the Windows tests share of the session they run in: the desktop's
// saver settings, whether the system believes a saver runs, and a pump that
// lets timers and paints through for a while.
#pragma once
#include <windows.h>

inline constexpr char kDesktopKey[] = "Control Panel\\Desktop";
inline constexpr char kUsePassword[] = "ScreenSaveUsePassword";

// 114 = SPI_GETSCREENSAVERRUNNING, newer than the headers the saver is built with.
inline int SaverRunning() {
  BOOL running = FALSE;
  SystemParametersInfoA(114, 0, &running, 0);
  return running ? 1 : 0;
}

inline void Pump(DWORD milliseconds) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    Sleep(10);
  } while (GetTickCount() - start < milliseconds);
}
