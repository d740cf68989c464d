#include "effect/shade_map.h"

#include <windows.h>

#include "effect/block_ledger.h"
#include "effect/shade_map_format.h"

namespace {

uint32_t ReadFromFile(void* context, void* into, uint32_t count) {
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(context), into, count, &got, nullptr)) return 0;
  return got;
}

int32_t SeekInFile(void* context, uint32_t offset) {
  // With the high word given the offset counts as unsigned, so maps whose
  // pixels start beyond 2 GB are reached rather than refused.
  LONG high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(static_cast<HANDLE>(context), static_cast<LONG>(offset), &high,
                                   FILE_BEGIN);
  return low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR ? -1 : 0;
}

// Module paths come in the ANSI code page, which may be a double-byte one.
const char* NextCharacter(const char* p) { return CharNextA(p); }

// A freshly committed block reads as zeros, which is what rows the file does
// not supply must show.
void* TakeBlock(void*, int32_t size) { return AllocBlock(size); }

}  // namespace

int32_t ShadeMapPath(char* path, uint32_t capacity) {
  if (capacity == 0) return -1;
  const DWORD length = GetModuleFileNameA(nullptr, path, capacity);
  if (length == 0) return -1;
  return FormShadeMapPath(path, length, capacity, NextCharacter);
}

int32_t LoadShadeMap(ShadeMap* map, uint8_t* palette, const char* path) {
  *map = ShadeMap{};
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const ShadeMapSource source = {file, ReadFromFile, SeekInFile, TakeBlock};
  const int32_t result = ReadShadeMap(map, palette, &source);
  CloseHandle(file);
  return result;
}

void ReleaseShadeMap(ShadeMap* map) {
  FreeBlock(map->pixels);
  *map = ShadeMap{};
}
