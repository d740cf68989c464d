// The step to the next character of a single-byte code page, for the parsers
// that walk text the way the system's CharNext does.
#pragma once

inline const char* StepOne(const char* p) { return p + 1; }
