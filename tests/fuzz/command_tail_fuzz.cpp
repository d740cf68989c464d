// libFuzzer target: the command line the screen-saver host starts us with.
// The first input byte picks a double-byte character set for the stepping
// function; the rest is the text, up to its first zero byte (what follows that
// byte stays in memory as junk). The text is read three ways: as a window
// number, as a command tail, and as a whole command line whose program name is
// cut before the tail is parsed. Each result is held to the rules written out
// again below, and every byte past the last one the rules need is poisoned, so
// a read beyond it stops the run (only the first switch counts, nothing after
// it is looked at).
#include <sanitizer/asan_interface.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/command_tail.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Text in a buffer whose bytes after a given one can be made unreadable.
struct GuardedText {
  std::vector<char> bytes;  // the text, a zero byte, the junk; padded to 8
  size_t length;            // up to the first zero byte

  GuardedText(const uint8_t* data, size_t size) : bytes((size + 1 + 7) & ~size_t{7}, '\0') {
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(data[i]);
    length = 0;
    while (bytes[length] != '\0') ++length;
  }
  ~GuardedText() { Open(); }
  GuardedText(const GuardedText&) = delete;
  GuardedText& operator=(const GuardedText&) = delete;

  const char* text() const { return bytes.data(); }
  unsigned char at(size_t i) const { return static_cast<unsigned char>(bytes[i]); }
  // Only bytes 0 .. last stay readable.
  void Limit(size_t last) {
    ASAN_POISON_MEMORY_REGION(bytes.data() + last + 1, bytes.size() - last - 1);
  }
  void Open() { ASAN_UNPOISON_MEMORY_REGION(bytes.data(), bytes.size()); }
};

// ---- The rules, independently -------------------------------------------

// 10^k modulo 2^32, for the wrap-around of long numbers.
uint32_t PowerOfTen(size_t k) {
  uint64_t p = 1;
  for (size_t i = 0; i < k; ++i) p = p * 10 % 4294967296u;
  return static_cast<uint32_t>(p);
}

struct Number {
  uint32_t value;
  size_t stop;  // the first byte that is not a digit: the last one read
};

// Σ digit·10^place over the run of digits from `from`, modulo 2^32.
Number JudgeNumber(const GuardedText& t, size_t from) {
  size_t end = from;
  while (end < t.length && t.at(end) >= '0' && t.at(end) <= '9') ++end;
  uint64_t sum = 0;
  for (size_t i = from; i < end; ++i)
    sum = (sum + static_cast<uint64_t>(t.at(i) - '0') * PowerOfTen(end - 1 - i)) % 4294967296u;
  return {static_cast<uint32_t>(sum), end};
}

struct Verdict {
  SaverMode mode;
  uint32_t handle;
  size_t lastRead;
};

Verdict JudgeTail(const GuardedText& t, size_t from) {
  const std::string tail(t.text() + from, t.length - from);
  const size_t at = tail.find_first_not_of(" -/");
  if (at == std::string::npos) return {SaverMode::AboutUnowned, 0, t.length};
  const size_t letterAt = from + at;
  const std::string withNumber = "pPlLaA";
  const char letter = tail[at];
  if (withNumber.find(letter) != std::string::npos) {
    size_t digitsAt = letterAt + 1;
    while (digitsAt < t.length && t.at(digitsAt) == ' ') ++digitsAt;
    const Number n = JudgeNumber(t, digitsAt);
    const SaverMode mode = letter == 'a' || letter == 'A' ? SaverMode::ChangePassword : SaverMode::Preview;
    return {mode, n.value, n.stop};
  }
  SaverMode mode = SaverMode::Invalid;
  if (letter == 's' || letter == 'S') mode = SaverMode::FullScreen;
  if (letter == 'c' || letter == 'C') mode = SaverMode::AboutOwned;
  return {mode, 0, letterAt};
}

// Lead bytes of the double-byte set in force; a lead byte followed by the end
// of the text is a character of its own, as the platform's stepping treats it.
bool leadByte[256];

void ChooseCharacterSet(uint8_t selector) {
  for (int b = 0; b < 256; ++b) {
    switch (selector % 4) {
      case 0: leadByte[b] = false; break;                                          // single-byte
      case 1: leadByte[b] = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); break;  // Shift JIS
      case 2: leadByte[b] = b >= 0x81 && b <= 0xFE; break;                         // GBK, Big5, UHC
      default: leadByte[b] = b >= 0x80; break;
    }
  }
}

// What the code under test steps with; it must never be asked to step off the end.
const char* StepCharacter(const char* p) {
  Require(*p != '\0');
  return p + (leadByte[static_cast<unsigned char>(*p)] && p[1] != '\0' ? 2 : 1);
}

// Offset of the tail in a whole command line.
size_t JudgeProgramName(const GuardedText& t) {
  size_t end = 0;
  if (t.length > 0 && t.at(0) == '"') {
    // The characters after the quote, by their first bytes.
    std::vector<size_t> starts;
    for (size_t i = 1; i < t.length; i += leadByte[t.at(i)] && i + 1 < t.length ? 2 : 1)
      starts.push_back(i);
    end = t.length;
    for (size_t s : starts)
      if (t.at(s) == '"') {
        end = s + 1;
        break;
      }
  } else {
    while (end < t.length && t.at(end) > 32) ++end;
  }
  while (end < t.length && t.at(end) <= 32) ++end;
  return end;
}

void CheckTail(GuardedText* t, size_t from) {
  const Verdict v = JudgeTail(*t, from);
  t->Limit(v.lastRead);
  const ModeChoice choice = ParseCommandTail(t->text() + from);
  t->Open();
  Require(choice.mode == v.mode);
  Require(choice.handle == v.handle);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ChooseCharacterSet(data[0]);
  GuardedText t(data + 1, size - 1);

  const Number n = JudgeNumber(t, 0);
  t.Limit(n.stop);
  Require(ParseWindowHandle(t.text()) == n.value);
  t.Open();

  CheckTail(&t, 0);

  const size_t tailAt = JudgeProgramName(t);
  t.Limit(tailAt);
  const char* tail = SkipProgramName(t.text(), StepCharacter);
  t.Open();
  Require(tail == t.text() + tailAt);
  CheckTail(&t, tailAt);
  return 0;
}
