#include "effect/shade_map.h"

#include <windows.h>

#include "effect/block_ledger.h"
#include "effect/shade_map_format.h"
#include "effect/system_entry.h"
#include "effect/system_version.h"

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

// Calls the oldest systems lack (the wide ones are stubs on the 9x family;
// the WOW64 ones exist from XP and Vista on), looked up when needed.
typedef DWORD(WINAPI* ModuleFileNameWProc)(HMODULE module, wchar_t* path, DWORD capacity);
typedef HANDLE(WINAPI* CreateFileWProc)(const wchar_t* name, DWORD access, DWORD share,
                                        SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                        HANDLE model);
typedef BOOL(WINAPI* IsWow64ProcessProc)(HANDLE process, BOOL* wow64);
typedef BOOL(WINAPI* RedirectionOffProc)(void** previous);
typedef BOOL(WINAPI* RedirectionBackProc)(void* previous);

// Under WOW64 a 32-bit process's opens in the system folder are sent to
// SysWOW64, where the map beside a saver in the real System32 is not (or a
// stale one is). The redirection is turned off for the one open, on this
// thread only, and at once back on; the module path, which names the file
// that was started, is taken as it is.
HANDLE OpenUnredirected(const ShadeMapFile* file) {
  const auto isWow64 = SystemEntry<IsWow64ProcessProc>("KERNEL32.DLL", "IsWow64Process");
  BOOL wow64 = FALSE;
  RedirectionBackProc back = nullptr;
  void* previous = nullptr;
  if (isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64) {
    const auto off = SystemEntry<RedirectionOffProc>("KERNEL32.DLL", "Wow64DisableWow64FsRedirection");
    back = SystemEntry<RedirectionBackProc>("KERNEL32.DLL", "Wow64RevertWow64FsRedirection");
    if (off == nullptr || back == nullptr || !off(&previous)) back = nullptr;
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  const auto createW = file->wide ? SystemEntry<CreateFileWProc>("KERNEL32.DLL", "CreateFileW") : nullptr;
  if (createW != nullptr)
    handle = createW(reinterpret_cast<const wchar_t*>(file->wide), GENERIC_READ, FILE_SHARE_READ, nullptr,
                     OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  else if (file->ansi != nullptr)
    handle = CreateFileA(file->ansi, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (back != nullptr) back(previous);
  return handle;
}

}  // namespace

int32_t ShadeMapPath(char* path, uint32_t capacity) {
  if (capacity == 0) return -1;
  const DWORD length = GetModuleFileNameA(nullptr, path, capacity);
  if (length == 0) return -1;
  return FormShadeMapPath(path, length, capacity, NextCharacter);
}

int32_t ShadeMapFileBeside(ShadeMapFile* file, uint16_t* wide, char* ansi, uint32_t capacity) {
  *file = ShadeMapFile{};
  const auto nameW =
      NtMajorVersion() != 0 ? SystemEntry<ModuleFileNameWProc>("KERNEL32.DLL", "GetModuleFileNameW") : nullptr;
  if (nameW != nullptr && capacity != 0) {
    const DWORD length = nameW(nullptr, reinterpret_cast<wchar_t*>(wide), capacity);
    if (length == 0 || FormWideShadeMapPath(wide, length, capacity) != 0) return -1;
    file->wide = wide;
    return 0;
  }
  if (ShadeMapPath(ansi, capacity) != 0) return -1;
  file->ansi = ansi;
  return 0;
}

int32_t LoadShadeMap(ShadeMap* map, uint8_t* palette, const ShadeMapFile* path) {
  *map = ShadeMap{};
  HANDLE file = OpenUnredirected(path);
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
