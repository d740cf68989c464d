// Shading throughput of a square patch in a 1024x1024 frame: ShadeRect (the
// 5-5-5 snapshot) and ShadeCopyRect (the 32-bit exact copy, 8 bits a channel)
// as the drift worker calls them, and each of their loops on its own, beside
// the plain save + restore copy of the same rectangle as the memory-bandwidth
// yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "effect/shade_kernels.h"

namespace {

constexpr int32_t kFrameWidth = 1024;
constexpr int32_t kFrameHeight = 1024;

struct Scene {
  std::vector<Pixel555> frame;
  std::vector<uint8_t> map;
  std::vector<uint32_t> copy;
  PixelSurface surface;
  CopySurface copySurface;
  ShadeMap shadeMap;
  Rect clip;

  explicit Scene(int32_t side)
      : frame(static_cast<size_t>(kFrameWidth) * kFrameHeight),
        map(static_cast<size_t>(side) * side),
        copy(frame.size()),
        surface{kFrameWidth, kFrameHeight, kFrameWidth, frame.data()},
        copySurface{kFrameWidth, kFrameHeight, copy.data()},
        shadeMap{side, side, map.data()},
        clip{0, 0, side, side} {
    uint32_t seed = 12345;
    for (Pixel555& p : frame) p = static_cast<Pixel555>((seed = seed * 1103515245u + 12345u) >> 17);
    for (uint32_t& p : copy) p = (seed = seed * 1103515245u + 12345u);
    for (uint8_t& g : map) g = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  }
};

// Reported as items_per_second: pixels per second.
void SetPixels(benchmark::State& state, int32_t side) {
  state.SetItemsProcessed(state.iterations() * side * side);
}

using Kernel = void (*)(PixelSurface*, Rect, const ShadeMap*, int32_t, int32_t, const ShadeTable*);

void RunShade(benchmark::State& state, Kernel kernel) {
  const auto side = static_cast<int32_t>(state.range(0));
  Scene scene(side);
  const ShadeTable* table = BuildShadeTable();
  for (auto _ : state) {
    kernel(&scene.surface, scene.clip, &scene.shadeMap, 0, 0, table);
    benchmark::ClobberMemory();
  }
  SetPixels(state, side);
}

void BM_ShadeRect(benchmark::State& state) {
  // The benchmark's own system keeps the SSE state; the processor decides.
  UseSse2Shading(CpuHasSse2());
  state.SetLabel(ShadeRectUsesSse2() ? "sse2" : "table");
  RunShade(state, ShadeRect);
}
void BM_ShadeRectTable(benchmark::State& state) { RunShade(state, ShadeRectTable); }
void BM_ShadeRectSse2(benchmark::State& state) {
  if (!CpuHasSse2()) {
    state.SkipWithError("processor without SSE2");
    return;
  }
  RunShade(state, ShadeRectSse2);
}

using CopyKernel = void (*)(CopySurface*, Rect, const ShadeMap*, int32_t, int32_t, const ChannelShadeTable*);

void RunShadeCopy(benchmark::State& state, CopyKernel kernel) {
  const auto side = static_cast<int32_t>(state.range(0));
  Scene scene(side);
  const ChannelShadeTable* table = BuildChannelShadeTable();
  for (auto _ : state) {
    kernel(&scene.copySurface, scene.clip, &scene.shadeMap, 0, 0, table);
    benchmark::ClobberMemory();
  }
  SetPixels(state, side);
}

void BM_ShadeCopyRect(benchmark::State& state) {
  UseSse2Shading(CpuHasSse2());
  state.SetLabel(ShadeRectUsesSse2() ? "sse2" : "table");
  RunShadeCopy(state, ShadeCopyRect);
}
void BM_ShadeCopyRectTable(benchmark::State& state) { RunShadeCopy(state, ShadeCopyRectTable); }
void BM_ShadeCopyRectSse2(benchmark::State& state) {
  if (!CpuHasSse2()) {
    state.SkipWithError("processor without SSE2");
    return;
  }
  RunShadeCopy(state, ShadeCopyRectSse2);
}

template <typename P>
void RunSaveRestore(benchmark::State& state, std::vector<P>& frame) {
  const auto side = static_cast<int32_t>(state.range(0));
  std::vector<P> save(static_cast<size_t>(side) * side);
  const size_t rowBytes = static_cast<size_t>(side) * sizeof(P);
  for (auto _ : state) {
    for (int32_t y = 0; y < side; ++y)
      std::memcpy(&save[static_cast<size_t>(y) * side], &frame[static_cast<size_t>(y) * kFrameWidth], rowBytes);
    benchmark::ClobberMemory();
    for (int32_t y = 0; y < side; ++y)
      std::memcpy(&frame[static_cast<size_t>(y) * kFrameWidth], &save[static_cast<size_t>(y) * side], rowBytes);
    benchmark::ClobberMemory();
  }
  SetPixels(state, side);
}

// The save and restore of a patch of the snapshot (2 bytes a pixel) and of
// the copy (4).
void BM_SaveRestoreMemcpy(benchmark::State& state) {
  Scene scene(static_cast<int32_t>(state.range(0)));
  RunSaveRestore(state, scene.frame);
}
void BM_SaveRestoreMemcpyCopy(benchmark::State& state) {
  Scene scene(static_cast<int32_t>(state.range(0)));
  RunSaveRestore(state, scene.copy);
}

BENCHMARK(BM_ShadeRect)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeRectTable)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeRectSse2)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeCopyRect)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeCopyRectTable)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeCopyRectSse2)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_SaveRestoreMemcpy)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_SaveRestoreMemcpyCopy)->Arg(64)->Arg(256)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
