// The vector loops on the stack a 32-bit Windows thread really has. Windows
// promises it only 4-byte alignment, so a loop that keeps a vector on its
// stack must first realign it (effect/CMakeLists.txt builds them so). Each loop
// is called here through a trampoline that puts the stack pointer a chosen
// number of bytes past a 16-byte boundary, so a loop that trusts its stack
// faults in this test every time, not only when a caller happens to leave the
// stack that way.
#include "effect/shade_kernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <type_traits>
#include <vector>

#include "effect/surface.h"
#include "tests/support/sse2_cases.h"
#include "tests/support/xorshift.h"

#if defined(__i386__) || defined(__x86_64__)
namespace {

// run(context), with the stack pointer offset (0-15) bytes past a 16-byte
// boundary where the call is made. The System V ABIs call with 0 there.
__attribute__((naked, noinline)) void CallAtStackOffset(void (*)(void*), void*, uint32_t) {
#if defined(__i386__)
  // cdecl on Linux and Windows alike: the arguments above the return address.
  asm("pushl %ebp\n\t"
      "movl %esp, %ebp\n\t"
      "movl 8(%ebp), %eax\n\t"
      "movl 12(%ebp), %ecx\n\t"
      "movl 16(%ebp), %edx\n\t"
      "andl $-16, %esp\n\t"
      "subl $32, %esp\n\t"
      "addl %edx, %esp\n\t"
      "movl %ecx, (%esp)\n\t"
      "call *%eax\n\t"
      "movl %ebp, %esp\n\t"
      "popl %ebp\n\t"
      "ret");
#elif defined(_WIN64)
  // rcx, rdx, r8; the callee owns the 32 bytes above its return address.
  asm("pushq %rbp\n\t"
      "movq %rsp, %rbp\n\t"
      "andq $-16, %rsp\n\t"
      "subq $64, %rsp\n\t"
      "movl %r8d, %r8d\n\t"
      "addq %r8, %rsp\n\t"
      "movq %rcx, %rax\n\t"
      "movq %rdx, %rcx\n\t"
      "call *%rax\n\t"
      "movq %rbp, %rsp\n\t"
      "popq %rbp\n\t"
      "ret");
#else
  // rdi, rsi, rdx.
  asm("pushq %rbp\n\t"
      "movq %rsp, %rbp\n\t"
      "andq $-16, %rsp\n\t"
      "subq $32, %rsp\n\t"
      "movl %edx, %edx\n\t"
      "addq %rdx, %rsp\n\t"
      "movq %rdi, %rax\n\t"
      "movq %rsi, %rdi\n\t"
      "call *%rax\n\t"
      "movq %rbp, %rsp\n\t"
      "popq %rbp\n\t"
      "ret");
#endif
}

// Stores at *context (a uint32_t) how far past a 16-byte boundary the stack
// pointer was where this was called: the trampoline's witness.
__attribute__((naked, noinline)) void RecordStackOffset(void*) {
#if defined(__i386__)
  asm("movl 4(%esp), %eax\n\t"
      "leal 4(%esp), %ecx\n\t"
      "andl $15, %ecx\n\t"
      "movl %ecx, (%eax)\n\t"
      "ret");
#elif defined(_WIN64)
  asm("leaq 8(%rsp), %rax\n\t"
      "andl $15, %eax\n\t"
      "movl %eax, (%rcx)\n\t"
      "ret");
#else
  asm("leaq 8(%rsp), %rax\n\t"
      "andl $15, %eax\n\t"
      "movl %eax, (%rdi)\n\t"
      "ret");
#endif
}

// Where the loops are called from. On i386 every offset a 4-byte promise
// allows. The 64-bit ABIs, Windows' among them, promise 16 bytes and the
// loops are built for that, so there they run at 0 only.
#if defined(__i386__)
const uint32_t kOffsets[] = {0, 4, 8, 12};
#else
const uint32_t kOffsets[] = {0};
#endif

TEST(StackAlignment, TheTrampolinePutsTheStackPointerWhereItIsAsked) {
  for (uint32_t offset : {0u, 4u, 8u, 12u}) {
    uint32_t seen = 99;
    CallAtStackOffset(RecordStackOffset, &seen, offset);
    EXPECT_EQ(seen, offset);
  }
}

template <typename Surface, typename Table>
using Loop = void (*)(Surface*, Rect, const ShadeMap*, int32_t, int32_t, const Table*);

// One vector loop, its types erased so that one table holds them all.
struct VectorLoop {
  const char* name;
  void (*loop)();      // a Loop<Surface, Table>
  const void* table;   // its const Table*
  // The scene's pixels after the loop has shaded it through the trampoline
  // at offset, or called straight (kStraight), or not at all (kUnshaded).
  std::vector<uint32_t> (*shade)(const VectorLoop& row, int32_t offset);
};
constexpr int32_t kStraight = -1, kUnshaded = -2;

PixelSurface SurfaceOver(Pixel555* pixels, int32_t width, int32_t height) {
  return {width, height, width, pixels};
}
CopySurface SurfaceOver(uint32_t* pixels, int32_t width, int32_t height) {
  return {width, height, pixels};
}

template <typename Surface, typename Table>
struct LoopCall {
  Loop<Surface, Table> loop;
  Surface* surface;
  Rect clip;
  const ShadeMap* map;
  int32_t mapX, mapY;
  const Table* table;
};

// What the trampoline calls. Built without SSE (the test's own flags), so it
// keeps whatever stack it is given and hands it on to the loop.
template <typename Surface, typename Table>
void RunLoopCall(void* context) {
  const auto* call = static_cast<const LoopCall<Surface, Table>*>(context);
  call->loop(call->surface, call->clip, call->map, call->mapX, call->mapY, call->table);
}

// The same scene every time: random pixels under random grays, and a clip
// 63 columns wide (three 16-pixel steps, an 8-pixel step and a tail of 7)
// away from the edges of surface and map.
template <typename Surface, typename Table>
std::vector<uint32_t> ShadeScene(const VectorLoop& row, int32_t offset) {
  using Pixel = std::remove_pointer_t<decltype(Surface::pixels)>;
  constexpr int32_t kWidth = 70, kHeight = 6, kMapWidth = 72, kMapHeight = 7;
  uint32_t seed = 0x2545F491u;
  std::vector<Pixel> pixels(kWidth * kHeight);
  for (Pixel& p : pixels) p = static_cast<Pixel>(NextRandom(&seed) & 0x00FFFFFFu);
  std::vector<uint8_t> grays(kMapWidth * kMapHeight);
  for (uint8_t& g : grays) g = static_cast<uint8_t>(NextRandom(&seed) >> 24);
  Surface surface = SurfaceOver(pixels.data(), kWidth, kHeight);
  const ShadeMap map{kMapWidth, kMapHeight, grays.data()};

  LoopCall<Surface, Table> call{reinterpret_cast<Loop<Surface, Table>>(row.loop), &surface,
                                Rect{3, 1, 3 + 63, 5}, &map, 5, 2, static_cast<const Table*>(row.table)};
  if (offset == kStraight)
    RunLoopCall<Surface, Table>(&call);
  else if (offset >= 0)
    CallAtStackOffset(RunLoopCall<Surface, Table>, &call, static_cast<uint32_t>(offset));
  return std::vector<uint32_t>(pixels.begin(), pixels.end());
}

template <typename Surface, typename Table>
VectorLoop Row(const char* name, Loop<Surface, Table> loop, const Table* table) {
  return {name, reinterpret_cast<void (*)()>(loop), table, ShadeScene<Surface, Table>};
}

// Every vector loop of effect/shade_kernels.h, with a table it shades by.
std::vector<VectorLoop> VectorLoops() {
  return {
      Row("ShadeRectSse2", ShadeRectSse2, BuildShadeTable()),
      Row("ShadeCopyRectSse2", ShadeCopyRectSse2, BuildChannelShadeTable()),
  };
}

struct StackCase {
  VectorLoop row;
  uint32_t offset;
};

std::vector<StackCase> StackCases() {
  std::vector<StackCase> cases;
  for (const VectorLoop& row : VectorLoops())
    for (uint32_t offset : kOffsets) cases.push_back({row, offset});
  return cases;
}

class VectorLoopStack : public testing::TestWithParam<StackCase> {};

// A loop that keeps a vector on a stack it has not realigned dies here of
// a general-protection fault, reported as this case's crash.
TEST_P(VectorLoopStack, ShadesAsWhenCalledStraight) {
  SKIP_WITHOUT_SSE2();
  const StackCase& c = GetParam();
  const std::vector<uint32_t> straight = c.row.shade(c.row, kStraight);
  ASSERT_NE(straight, c.row.shade(c.row, kUnshaded)) << "the loop left the scene as it was";
  EXPECT_EQ(c.row.shade(c.row, static_cast<int32_t>(c.offset)), straight);
}

// The case's name in the test list (CTest names each case by it).
void PrintTo(const StackCase& c, std::ostream* out) { *out << c.row.name << "_StackAt" << c.offset; }

INSTANTIATE_TEST_SUITE_P(EveryLoop, VectorLoopStack, testing::ValuesIn(StackCases()));

}  // namespace
#endif
