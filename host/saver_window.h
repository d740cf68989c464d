// The saver window: full screen or inside the host's preview pane.
#pragma once
#include <windows.h>

#include <cstdint>

// Runs the saver in a window (full screen without parent, preview inside
// parent) until the window is destroyed; the result is the exit code.
int32_t RunSaverWindow(HWND parent);

// The outer and inner layers of the saver window's messages; the effect's
// EffectWindowProc sits between them (RunSaverWindow links the three).
LRESULT CALLBACK OuterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK DefaultSaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
