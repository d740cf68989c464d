#include "effect/block_ledger.h"

#include <windows.h>

namespace {
// Touched by the worker while it prepares and ends, read by the main thread
// only after the worker has ended: never by two threads at once.
int32_t allocations;
int32_t releases;
}  // namespace

void* AllocBlock(int32_t size) {
  if (size <= 0) return nullptr;
  void* block = VirtualAlloc(nullptr, static_cast<SIZE_T>(size), MEM_RESERVE | MEM_COMMIT,
                             PAGE_READWRITE);
  if (block) ++allocations;
  return block;
}

int32_t FreeBlock(void* block) {
  if (!block) return 1;
  if (!VirtualFree(block, 0, MEM_RELEASE)) return -1;
  ++releases;
  return 0;
}

int32_t CheckBlockLedger() {
  const int32_t difference = releases - allocations;
  allocations = 0;
  releases = 0;
  if (difference != 0)
    MessageBoxA(nullptr, "bad memory usage count", "Programmer Error", MB_OK | MB_TASKMODAL);
  return difference;
}
