// Shading throughput of a square patch in a 1024x1024 frame: ShadeRect as the
// drift worker calls it, and each of its loops on its own, beside the plain
// save + restore copy of the same rectangle as the memory-bandwidth yardstick.
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
  std::vector<Pixel555> save;
  PixelSurface surface;
  ShadeMap shadeMap;
  Rect clip;

  explicit Scene(int32_t side)
      : frame(static_cast<size_t>(kFrameWidth) * kFrameHeight),
        map(static_cast<size_t>(side) * side),
        save(static_cast<size_t>(side) * side),
        surface{kFrameWidth, kFrameHeight, kFrameWidth, frame.data()},
        shadeMap{side, side, map.data()},
        clip{0, 0, side, side} {
    uint32_t seed = 12345;
    for (Pixel555& p : frame) p = static_cast<Pixel555>((seed = seed * 1103515245u + 12345u) >> 17);
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

void BM_SaveRestoreMemcpy(benchmark::State& state) {
  const auto side = static_cast<int32_t>(state.range(0));
  Scene scene(side);
  const size_t rowBytes = static_cast<size_t>(side) * sizeof(Pixel555);
  for (auto _ : state) {
    for (int32_t y = 0; y < side; ++y)
      std::memcpy(&scene.save[static_cast<size_t>(y) * side], &scene.frame[static_cast<size_t>(y) * kFrameWidth], rowBytes);
    benchmark::ClobberMemory();
    for (int32_t y = 0; y < side; ++y)
      std::memcpy(&scene.frame[static_cast<size_t>(y) * kFrameWidth], &scene.save[static_cast<size_t>(y) * side], rowBytes);
    benchmark::ClobberMemory();
  }
  SetPixels(state, side);
}

BENCHMARK(BM_ShadeRect)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeRectTable)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_ShadeRectSse2)->Arg(64)->Arg(256)->Arg(1024);
BENCHMARK(BM_SaveRestoreMemcpy)->Arg(64)->Arg(256)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
