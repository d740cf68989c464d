// A small repeatable generator for the tests' random shapes and pixels.
#pragma once
#include <cstdint>

inline uint32_t NextRandom(uint32_t* state) {
  *state ^= *state << 13;
  *state ^= *state >> 17;
  *state ^= *state << 5;
  return *state;
}
