#include "host/command_tail.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/char_steps.h"

namespace {

TEST(CommandTail, ModeOfEachTail) {
  struct Case { const char* tail; SaverMode mode; uint32_t handle; };
  const Case cases[] = {
      {"", SaverMode::AboutUnowned, 0},
      {"   ", SaverMode::AboutUnowned, 0},
      {"/s", SaverMode::FullScreen, 0},
      {"-S", SaverMode::FullScreen, 0},
      {" s", SaverMode::FullScreen, 0},
      {"//s", SaverMode::FullScreen, 0},
      {"s", SaverMode::FullScreen, 0},
      {"/sx", SaverMode::FullScreen, 0},
      {"/s /c", SaverMode::FullScreen, 0},
      {"/p 1234", SaverMode::Preview, 1234},
      {"/p1234", SaverMode::Preview, 1234},
      {"/P   77", SaverMode::Preview, 77},
      {"/l 1234", SaverMode::Preview, 1234},
      {"-L 9", SaverMode::Preview, 9},
      {"/p", SaverMode::Preview, 0},
      {"/p 0", SaverMode::Preview, 0},
      {"/p abc", SaverMode::Preview, 0},
      {"/p\t12", SaverMode::Preview, 0},  // only blanks are skipped after the letter
      {"/c", SaverMode::AboutOwned, 0},
      {"/C:1234", SaverMode::AboutOwned, 0},
      {"/a", SaverMode::ChangePassword, 0},
      {"/A 42", SaverMode::ChangePassword, 42},
      {"-\ts", SaverMode::Invalid, 0},
      {"\ts", SaverMode::Invalid, 0},
      {"/x", SaverMode::Invalid, 0},
      {"/1", SaverMode::Invalid, 0},
      {"\x80s", SaverMode::Invalid, 0},
      {"\xffs", SaverMode::Invalid, 0},
  };
  for (const Case& k : cases) {
    const ModeChoice choice = ParseCommandTail(k.tail);
    EXPECT_EQ(static_cast<int>(choice.mode), static_cast<int>(k.mode)) << '"' << k.tail << '"';
    EXPECT_EQ(choice.handle, k.handle) << '"' << k.tail << '"';
  }
}

TEST(CommandTail, WindowHandleDigits) {
  struct Case { const char* text; uint32_t value; };
  const Case cases[] = {
      {"", 0},           {"0", 0},           {"123", 123},       {"123abc", 123},
      {"-5", 0},         {" 5", 0},          {"0x10", 0},        {"4294967295", 4294967295u},
      {"4294967296", 0},  // wraps in 32 bits
      {"4294967301", 5},
  };
  for (const Case& k : cases) EXPECT_EQ(ParseWindowHandle(k.text), k.value) << k.text;
}

// A two-byte character set whose lead byte 0x81 swallows the next byte, the
// way CharNextA steps over a double-byte character.
const char* StepDoubleByte(const char* p) {
  if (static_cast<unsigned char>(*p) == 0x81 && p[1] != '\0') return p + 2;
  return p + 1;
}

TEST(CommandTail, ProgramNameIsCut) {
  struct Case { const char* line; const char* tail; const char* (*next)(const char*); };
  const Case cases[] = {
      {"glmire.scr /s", "/s", StepOne},
      {"glmire.scr", "", StepOne},
      {"C:\\WIN\\GLMIRE.SCR \t  /p 12", "/p 12", StepOne},
      {"\"C:\\Program Files\\My Saver\\glmire.scr\"   /s", "/s", StepOne},
      {"\"C:\\a b\\glmire.scr\"/c", "/c", StepOne},
      {"\"C:\\unterminated name /s", "", StepOne},
      {"\"\" /a", "/a", StepOne},
      {"name\xe9\xff.scr /s", "/s", StepOne},  // bytes 128-255 belong to the name
      // A double-byte character whose trail byte is a quote does not end the name.
      {"\"C:\\\x81\"dir\\glmire.scr\" /s", "/s", StepDoubleByte},
  };
  for (const Case& k : cases) EXPECT_EQ(std::string(SkipProgramName(k.line, k.next)), k.tail) << k.line;
}

}  // namespace
