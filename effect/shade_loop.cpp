#include "effect/shade_loop.h"

#include <windows.h>

#include "effect/shade_kernels.h"
#include "effect/system_entry.h"

namespace {

#if !defined(__x86_64__)
// Windows 95 and NT 4 do not save the SSE registers when they switch tasks,
// though the processor may have them: the vector loop runs only where the
// system says it knows SSE2. The question itself is missing on Windows 95.
bool SystemKeepsSse2State() {
  typedef BOOL(WINAPI * FeatureProc)(DWORD feature);
  constexpr DWORD kSse2Feature = 10;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE
  const auto present = SystemEntry<FeatureProc>("KERNEL32.DLL", "IsProcessorFeaturePresent");
  return present != nullptr && present(kSse2Feature);
}
#endif

bool Sse2Allowed() {
#if defined(__x86_64__)
  // Every x86-64 processor has SSE2 and every x64 Windows keeps its state.
  return true;
#else
  // CPUID is slow under a hypervisor (it traps); ask once per process.
  static const bool cpuHasSse2 = CpuHasSse2();
  return cpuHasSse2 && SystemKeepsSse2State();
#endif
}

}  // namespace

bool ChooseShadeLoop() {
  const bool sse2 = Sse2Allowed();
  UseSse2Shading(sse2);
  return sse2;
}
