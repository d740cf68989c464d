// The saver host's process-wide state.
#pragma once
#include <windows.h>
#include <imm.h>

#include <cstdint>

#include "effect/rect.h"

typedef BOOL(WINAPI* VerifyPasswordProc)(HWND window);
typedef HIMC(WINAPI* AssociateContextProc)(HWND window, HIMC context);

struct SaverState {
  HINSTANCE instance;
  HWND window;
  int32_t isPreview;
  int32_t isClosing;           // set once closing was allowed; input is ignored from then on
  int32_t isCheckingPassword;  // set while the password verifier runs
  HMODULE passwordLibrary;
  VerifyPasswordProc verifyPassword;
  HMODULE imeLibrary;
  AssociateContextProc associateContext;
  HIMC savedContext;
  int32_t isWin9x;
  uint32_t wakeThreshold;      // mouse travel (|dx| + |dy|) above which the saver closes
  uint32_t lastPasswordCheck;  // tick of the last verifier run; 0xFFFFFFFF = never
  POINT mousePoint;
  // The wheel mouse's own message on Windows 95 ("MSWHEEL_ROLLMSG", registered
  // by name); 0 when there is none.
  UINT wheelMessage;
  // The screen the full-screen window was put over: a display change that
  // leaves it as it is changes nothing.
  Rect covered;
};

extern SaverState saverState;

// Tells the 9x family whether a saver runs (it then blocks the task-switch keys).
void SetSaverRunning(bool on);
