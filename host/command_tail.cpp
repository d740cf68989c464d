#include "host/command_tail.h"

namespace {
const char* SkipSpaces(const char* p) {
  while (*p == ' ') ++p;
  return p;
}

bool IsBlank(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b >= 1 && b <= 32;
}
}  // namespace

uint32_t ParseWindowHandle(const char* text) {
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    value = value * 10u + static_cast<uint32_t>(*text - '0');
  return value;
}

ModeChoice ParseCommandTail(const char* tail) {
  for (const char* p = tail;; ++p) {
    switch (*p) {
      case '\0':
        return {SaverMode::AboutUnowned, 0};
      case ' ':
      case '-':
      case '/':
        continue;
      case 'S':
      case 's':
        return {SaverMode::FullScreen, 0};
      case 'P':
      case 'p':
      case 'L':
      case 'l':
        return {SaverMode::Preview, ParseWindowHandle(SkipSpaces(p + 1))};
      case 'C':
      case 'c':
        return {SaverMode::AboutOwned, 0};
      case 'A':
      case 'a':
        return {SaverMode::ChangePassword, ParseWindowHandle(SkipSpaces(p + 1))};
      default:
        return {SaverMode::Invalid, 0};
    }
  }
}

const char* SkipProgramName(const char* line, const char* (*next)(const char*)) {
  const char* p = line;
  if (*p == '"') {
    p = next(p);
    while (*p != '\0' && *p != '"') p = next(p);
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && !IsBlank(*p)) ++p;
  }
  while (IsBlank(*p)) ++p;
  return p;
}
