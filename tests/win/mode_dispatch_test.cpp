#include "host/mode_dispatch.h"

#include <gtest/gtest.h>

#include <string>

#include "host/saver_state.h"

namespace {

// What the fake modes saw.
struct Calls {
  std::string mode;
  HWND window;
} calls;

int32_t FakeWindow(HWND parent) {
  calls = {parent ? "preview" : "fullscreen", parent};
  return 7;
}
int32_t FakeAbout(HWND owner) {
  calls = {"about", owner};
  return 8;
}
void FakeChangePassword(HWND owner) { calls = {"password", owner}; }
const SaverModes fakes = {FakeWindow, FakeAbout, FakeChangePassword};

class Dispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    live = CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                           nullptr);
    ASSERT_NE(live, nullptr);
    HWND dead = CreateWindowExA(0, "STATIC", "gone", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    deadNumber = std::to_string(reinterpret_cast<uintptr_t>(dead));
    DestroyWindow(dead);
    liveNumber = std::to_string(reinterpret_cast<uintptr_t>(live));
  }
  void TearDown() override { DestroyWindow(live); }
  int32_t Run(const std::string& tail) {
    calls = {"none", nullptr};
    return RunSaverWithModes(GetModuleHandleA(nullptr), tail.c_str(), &fakes);
  }
  HWND live = nullptr;
  std::string liveNumber, deadNumber;
};

TEST_F(Dispatch, EachTailRunsItsModeAndReturnsItsResult) {
  struct Case { std::string tail; const char* mode; int32_t result; bool withLive; };
  const Case cases[] = {
      {"/s", "fullscreen", 7, false},
      {" S", "fullscreen", 7, false},
      {"/p " + liveNumber, "preview", 7, true},
      {"/p" + liveNumber, "preview", 7, true},
      {"/l " + liveNumber, "preview", 7, true},
      {"", "about", 8, false},
      {"/p 0", "none", -1, false},
      {"/p", "none", -1, false},
      {"/p abc", "none", -1, false},
      {"/p " + deadNumber, "none", -1, false},
      {"/x", "none", -1, false},
      {"-\ts", "none", -1, false},
      // The test runs on the NT family, where there is no saver password to change.
      {"/a", "none", -1, false},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(Run(k.tail), k.result) << k.tail;
    EXPECT_EQ(calls.mode, k.mode) << k.tail;
    if (k.withLive) {
      EXPECT_EQ(calls.window, live) << k.tail;
    }
  }
  EXPECT_EQ(saverState.isWin9x, 0);
  EXPECT_EQ(saverState.instance, GetModuleHandleA(nullptr));
}

TEST_F(Dispatch, AboutOwnersFollowTheSwitch) {
  EXPECT_EQ(Run(""), 8);
  EXPECT_EQ(calls.window, nullptr);
  SetForegroundWindow(live);
  HWND foreground = GetForegroundWindow();
  EXPECT_EQ(Run("/c"), 8);
  EXPECT_EQ(calls.mode, "about");
  EXPECT_EQ(calls.window, foreground);
}

int32_t Faulting(HWND) {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  return 0;
}
LONG WINAPI HandleEverything(EXCEPTION_POINTERS*) { return EXCEPTION_EXECUTE_HANDLER; }

TEST_F(Dispatch, AFaultInTheModeEndsWithItsExceptionCode) {
  const SaverModes faulting = {Faulting, FakeAbout, FakeChangePassword};
  LPTOP_LEVEL_EXCEPTION_FILTER old = SetUnhandledExceptionFilter(HandleEverything);
  EXPECT_EQ(static_cast<uint32_t>(RunSaverWithModes(GetModuleHandleA(nullptr), "/s", &faulting)),
            0xC0000005u);
  // The guard leaves the thread able to run the next mode normally.
  EXPECT_EQ(Run("/s"), 7);
  SetUnhandledExceptionFilter(old);
}

}  // namespace
