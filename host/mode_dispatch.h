// Choosing and running the mode the command tail asks for.
#pragma once
#include <windows.h>

#include <cstdint>

// Exit code of a run whose mode faulted and whose fault the system let us
// handle: the exception code itself (e.g. 0xC0000005), as Windows reports for
// a crashed process, so callers can tell it from a switch we refused (-1).
int32_t RunSaver(HINSTANCE instance, const char* tail);

// The modes RunSaver chooses from; tests run the dispatch with their own.
struct SaverModes {
  int32_t (*runSaverWindow)(HWND parent);
  int32_t (*showAboutDialog)(HWND owner);
  void (*changePassword)(HWND owner);
};

int32_t RunSaverWithModes(HINSTANCE instance, const char* tail, const SaverModes* modes);
