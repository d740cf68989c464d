// The about box shown in place of settings.
#pragma once
#include <windows.h>

#include <cstdint>

// Runs the about box modally; 0 when closed normally, -1 when it cannot be shown.
int32_t ShowAboutDialog(HWND owner);
// The about box's procedure: 1 for a message it handled, else 0.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
