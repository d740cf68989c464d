// The few C library functions the compiler calls on its own (block copies and
// clears, string lengths) for a saver that links no C library. Built without
// builtins or loop-pattern detection, or these loops would be turned back into
// calls to themselves.
#include <cstddef>

extern "C" {

void* memcpy(void* to, const void* from, size_t count) {
  auto* t = static_cast<unsigned char*>(to);
  const auto* f = static_cast<const unsigned char*>(from);
  while (count-- != 0) *t++ = *f++;
  return to;
}

void* memset(void* to, int value, size_t count) {
  auto* t = static_cast<unsigned char*>(to);
  while (count-- != 0) *t++ = static_cast<unsigned char>(value);
  return to;
}

size_t strlen(const char* text) {
  const char* end = text;
  while (*end != '\0') ++end;
  return static_cast<size_t>(end - text);
}

}  // extern "C"
