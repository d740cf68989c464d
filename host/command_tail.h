// Reading the command line the screen-saver host starts us with. Pure code:
// no platform calls, so every rule is tested natively.
#pragma once
#include <cstdint>

enum class SaverMode {
  AboutUnowned,    // empty tail: about box with no owner
  AboutOwned,      // /c: about box owned by the foreground window
  FullScreen,      // /s
  Preview,         // /p or /l with the host's window
  ChangePassword,  // /a with an optional owner window
  Invalid,         // anything else
};

struct ModeChoice {
  SaverMode mode;
  uint32_t handle;  // the window number after /p, /l or /a; 0 when none was given
};

// Decimal digits at the start of text, wrapping in 32 bits; 0 when there are none.
uint32_t ParseWindowHandle(const char* text);

// The mode chosen by the first switch of the tail; nothing after it is looked at.
ModeChoice ParseCommandTail(const char* tail);

// Steps over the program name at the start of a command line and the blanks
// (bytes 1-32) after it. next steps one character forward, multibyte-aware.
const char* SkipProgramName(const char* line, const char* (*next)(const char*));
