// The saver window: full screen or inside the host's preview pane.
#pragma once
#include <windows.h>

#include <cstdint>

// Runs the saver in a window (full screen without parent, preview inside
// parent) until the window is destroyed; the result is the exit code.
int32_t RunSaverWindow(HWND parent);

// Starts that come at the same moment all look for a running saver before any
// has its window; each would then make one, and each closes when the next
// takes activation, leaving no saver. The first start to claim the full
// screen (a named event, held until its window is gone) is the one that runs.
// 0: claimed, *claim to be closed at the end (null where the system could
// make no event: the start runs unguarded); -1: another start holds it.
int32_t ClaimFullScreen(HANDLE* claim);

// The outer and inner layers of the saver window's messages; the effect's
// EffectWindowProc sits between them (RunSaverWindow links the three).
LRESULT CALLBACK OuterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK DefaultSaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
