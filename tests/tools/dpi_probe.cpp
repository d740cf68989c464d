// dpi_probe.exe: carries the saver's manifest (dpi_probe.rc) as its own and
// prints what the system derived from it for this process: each DPI setting
// as the side-by-side parser read it (in its documented namespace) and the
// process's awareness ("awareness=2": aware of each monitor's own DPI). The
// calls are from Vista and 10 on and are looked up; what is missing reads
// "none".
#include <windows.h>

#include <cstdio>

namespace {

typedef BOOL(WINAPI* QuerySettingsProc)(DWORD flags, HANDLE context, const wchar_t* ns, const wchar_t* name,
                                        wchar_t* buffer, SIZE_T size, SIZE_T* written);
typedef HANDLE(WINAPI* ThreadContextProc)();
typedef int(WINAPI* AwarenessProc)(HANDLE context);

template <typename Proc>
Proc Find(HMODULE library, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void PrintSetting(QuerySettingsProc query, const wchar_t* ns, const wchar_t* name, const char* label) {
  wchar_t value[256] = {};
  char narrow[256] = "none";
  if (query != nullptr && query(0, nullptr, ns, name, value, 255, nullptr))
    WideCharToMultiByte(CP_UTF8, 0, value, -1, narrow, sizeof narrow, nullptr, nullptr);
  std::printf("%s=%s\n", label, narrow);
}

}  // namespace

int main() {
  const auto query = Find<QuerySettingsProc>(GetModuleHandleA("KERNEL32.DLL"), "QueryActCtxSettingsW");
  PrintSetting(query, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", "dpiAware");
  PrintSetting(query, L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", "dpiAwareness");
  HMODULE user = LoadLibraryA("USER32.DLL");  // a console program may not have it yet
  const auto threadContext = Find<ThreadContextProc>(user, "GetThreadDpiAwarenessContext");
  const auto awareness = Find<AwarenessProc>(user, "GetAwarenessFromDpiAwarenessContext");
  if (threadContext != nullptr && awareness != nullptr)
    std::printf("awareness=%d\n", awareness(threadContext()));
  else
    std::printf("awareness=none\n");
  return 0;
}
