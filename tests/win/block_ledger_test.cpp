#include "effect/block_ledger.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Watches for the ledger's message box from a second thread while the test
// thread sits in it, reads what it says and dismisses it. A box that never
// comes is simply not seen; one that will not go is closed again and again.
class BoxWatcher {
 public:
  BoxWatcher() {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~BoxWatcher() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(stop_);
  }
  // A window of the checking thread: a task-modal box disables it while it shows.
  void watchOwner(HWND window) { owner_ = window; }
  bool ownerDisabled() const { return ownerDisabled_; }
  int boxes() const { return boxes_; }
  const std::string& text() const { return text_; }

 private:
  static BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    char name[32] = {}, text[256] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
      reinterpret_cast<BoxWatcher*>(param)->text_ += text;
    return TRUE;
  }
  static DWORD WINAPI Run(void* self) {
    auto* w = static_cast<BoxWatcher*>(self);
    HWND last = nullptr;
    while (WaitForSingleObject(w->stop_, 10) == WAIT_TIMEOUT) {
      HWND box = FindWindowA(nullptr, "Programmer Error");
      if (!box) {
        last = nullptr;
        continue;
      }
      if (box != last) {
        ++w->boxes_;
        w->text_.clear();
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(w));
        w->ownerDisabled_ = w->owner_ && !IsWindowEnabled(w->owner_);
        last = box;
      }
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return 0;
  }
  HANDLE stop_;
  HANDLE thread_;
  volatile int boxes_ = 0;
  HWND owner_ = nullptr;
  volatile bool ownerDisabled_ = false;
  std::string text_;
};

class Ledger : public ::testing::Test {
 protected:
  void SetUp() override { CheckBlockLedger(); }  // whatever came before starts no box here
};

TEST_F(Ledger, BalancedRunsShowNothing) {
  BoxWatcher watcher;
  void* a = AllocBlock(1 << 20);
  void* b = AllocBlock(100);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  static_cast<char*>(a)[(1 << 20) - 1] = 1;  // committed and writable to the last byte
  EXPECT_EQ(FreeBlock(b), 0);
  EXPECT_EQ(FreeBlock(a), 0);
  EXPECT_EQ(FreeBlock(nullptr), 1);  // nothing to give back, nothing counted
  EXPECT_EQ(CheckBlockLedger(), 0);
  EXPECT_EQ(CheckBlockLedger(), 0);  // an idle window too
  Sleep(100);
  EXPECT_EQ(watcher.boxes(), 0);
}

TEST_F(Ledger, RefusedReleasesAndFailedAllocationsAreNotCounted) {
  BoxWatcher watcher;
  int local = 0;
  void* a = AllocBlock(4096);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(FreeBlock(a), 0);
  EXPECT_EQ(FreeBlock(a), -1);       // already given back
  EXPECT_EQ(FreeBlock(&local), -1);  // never a block
  EXPECT_EQ(AllocBlock(0), nullptr);
  EXPECT_EQ(AllocBlock(-1), nullptr);
  EXPECT_EQ(AllocBlock(INT32_MAX), nullptr);  // more than a 32-bit process has room for
  EXPECT_EQ(CheckBlockLedger(), 0);
  Sleep(100);
  EXPECT_EQ(watcher.boxes(), 0);
}

TEST_F(Ledger, UnbalancedCountsShowTheBoxOnceAndReset) {
  HWND window = CreateWindowExA(0, "STATIC", "ledger owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  BoxWatcher watcher;
  watcher.watchOwner(window);
  void* kept = AllocBlock(4096);
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(CheckBlockLedger(), -1);  // returns only once the box is dismissed
  EXPECT_EQ(watcher.boxes(), 1);
  EXPECT_EQ(watcher.text(), "bad memory usage count");
  EXPECT_TRUE(watcher.ownerDisabled()) << "the box is not task-modal";
  EXPECT_TRUE(IsWindowEnabled(window));
  DestroyWindow(window);

  EXPECT_EQ(CheckBlockLedger(), 0);  // the counts were reset with the box
  EXPECT_EQ(watcher.boxes(), 1);

  EXPECT_EQ(FreeBlock(kept), 0);  // a release with no allocation in this count
  EXPECT_EQ(CheckBlockLedger(), 1);
  EXPECT_EQ(watcher.boxes(), 2);
}

}  // namespace
