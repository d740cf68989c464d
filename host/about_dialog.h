// The about box shown in place of settings.
#pragma once
#include <windows.h>

#include <cstdint>

// Runs the about box modally; 0 when closed normally, -1 when it cannot be shown.
int32_t ShowAboutDialog(HWND owner);
