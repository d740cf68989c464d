#include "effect/block_ledger.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/support/box_watcher.h"

namespace {

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
