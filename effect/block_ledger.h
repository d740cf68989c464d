// The block ledger: the effect's large buffers come straight from virtual
// memory, and every block taken and given back is counted.
#pragma once
#include <cstdint>

// A committed read-write block of size bytes, or null. Counts a success.
void* AllocBlock(int32_t size);
// 0 when the block was given back (counted), 1 for a null block, -1 when the
// platform refused (not counted).
int32_t FreeBlock(void* block);
// releases - allocations as they stood; resets both counts. A non-zero
// difference is shown in a task-modal "Programmer Error" box first.
int32_t CheckBlockLedger();
