#include "host/fault_guard.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

#if defined(__x86_64__)
// 64-bit Windows keeps no handler chain in the thread block; the guard leaves
// nothing behind there to compare.
void* HandlerChain() { return nullptr; }
#else
// Volatile, so that pushing and popping a handler around a fault is not
// folded away as a dead store.
volatile NT_TIB* ThreadInfo() {
  volatile NT_TIB* tib;
  __asm__ volatile("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}
void* HandlerChain() { return ThreadInfo()->ExceptionList; }
#endif

LONG filterVerdict;
int filterCalls;
LONG WINAPI Filter(EXCEPTION_POINTERS*) {
  ++filterCalls;
  return filterVerdict;
}

int32_t Returns42(void*) { return 42; }
int32_t AccessViolation(void*) {
  volatile int* nowhere = nullptr;
  return *nowhere;
}
int32_t DivideByZero(void* zero) {
  volatile int32_t d = *static_cast<int32_t*>(zero);
  return 100 / d;
}
int32_t Raises(void*) {
  RaiseException(0xE0001234u, 0, 0, nullptr);
  return 0;
}

int innerUnwinds;

#if defined(__x86_64__)
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION CountingHandler(EXCEPTION_RECORD* record, void*,
                                                                       CONTEXT*, void*) {
  if (record->ExceptionFlags & EXCEPTION_UNWINDING) ++innerUnwinds;
  return ExceptionContinueSearch;
}

// A frame of its own between the guard and the fault, whose unwind data names
// a handler: the unwind to the guard must call it. (The nop keeps the return
// address out of the epilogue, where the handler would not be asked.)
extern "C" int32_t FaultsUnderAnInnerHandler(void*);
__asm__(
    "  .text\n"
    "  .def FaultsUnderAnInnerHandler; .scl 3; .type 32; .endef\n"
    "  .seh_proc FaultsUnderAnInnerHandler\n"
    "FaultsUnderAnInnerHandler:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  .seh_handler CountingHandler, @except, @unwind\n"
    "  xorl %eax, %eax\n"
    "  movl $1, (%rax)\n"
    "  nop\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    "  .seh_endproc\n");
#else
EXCEPTION_DISPOSITION __cdecl CountingHandler(EXCEPTION_RECORD* record, void*, CONTEXT*, void*) {
  if (record->ExceptionFlags & EXCEPTION_UNWINDING) ++innerUnwinds;
  return ExceptionContinueSearch;
}

// A frame of its own on the handler chain between the guard and the fault:
// it must be unwound, not left dangling on the chain.
int32_t FaultsUnderAnInnerHandler(void*) {
  volatile EXCEPTION_REGISTRATION_RECORD inner = {};
  volatile NT_TIB* tib = ThreadInfo();
  inner.Next = tib->ExceptionList;
  inner.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(CountingHandler);
  tib->ExceptionList = const_cast<EXCEPTION_REGISTRATION_RECORD*>(&inner);
  volatile int* nowhere = nullptr;
  *nowhere = 1;
  tib->ExceptionList = inner.Next;
  return 0;
}
#endif

class Guard : public ::testing::Test {
 protected:
  void SetUp() override {
    old = SetUnhandledExceptionFilter(Filter);
    filterVerdict = EXCEPTION_EXECUTE_HANDLER;
    filterCalls = 0;
    innerUnwinds = 0;
  }
  void TearDown() override { SetUnhandledExceptionFilter(old); }
  LPTOP_LEVEL_EXCEPTION_FILTER old;
};

TEST_F(Guard, FaultsAreHandledWithTheirCode) {
  struct Case { GuardedProc proc; uint32_t code; };
  int32_t zero = 0;
  const Case cases[] = {{AccessViolation, 0xC0000005u},
                        {DivideByZero, 0xC0000094u},
                        {Raises, 0xE0001234u},
                        {FaultsUnderAnInnerHandler, 0xC0000005u}};
  for (const Case& k : cases) {
    void* chainBefore = HandlerChain();
    int32_t result = -7;
    uint32_t code = 0;
    EXPECT_EQ(RunGuarded(k.proc, &zero, &result, &code), 1);
    EXPECT_EQ(code, k.code);
    EXPECT_EQ(result, -7);
    EXPECT_EQ(HandlerChain(), chainBefore);
  }
  EXPECT_EQ(filterCalls, 4);
  EXPECT_EQ(innerUnwinds, 1);
}

TEST_F(Guard, NormalReturnPassesTheResult) {
  void* chainBefore = HandlerChain();
  int32_t result = 0;
  uint32_t code = 0;
  EXPECT_EQ(RunGuarded(Returns42, nullptr, &result, &code), 0);
  EXPECT_EQ(result, 42);
  EXPECT_EQ(filterCalls, 0);
  EXPECT_EQ(HandlerChain(), chainBefore);
}

}  // namespace
