#include "host/fault_guard.h"

#include <windows.h>

// The two architectures find exception handlers differently: 32-bit Windows
// walks a chain of records on the stack (FS:[0]), 64-bit Windows looks the
// handler up in the unwind tables of each function. Each half below puts our
// handler where its platform looks; the handler's decision is shared.

namespace {

// Hands the fault to the system's filter. 1 when the filter chose to let us
// handle it (the caller then unwinds to the guard), 0 to keep searching; a
// filter that repaired the fault resumes it through *disposition.
int32_t FilterChoosesUs(EXCEPTION_RECORD* record, CONTEXT* context, EXCEPTION_DISPOSITION* disposition) {
  *disposition = ExceptionContinueSearch;
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return 0;
  EXCEPTION_POINTERS pointers = {record, context};
  const LONG verdict = UnhandledExceptionFilter(&pointers);
  if (verdict == EXCEPTION_CONTINUE_EXECUTION) *disposition = ExceptionContinueExecution;
  return verdict == EXCEPTION_EXECUTE_HANDLER ? 1 : 0;
}

}  // namespace

#if defined(__x86_64__)

namespace {

struct GuardFrame {
  DWORD code;
  int32_t faulted;
};

}  // namespace

// GuardTrampoline(proc, context, frame) calls proc(context) in a frame whose
// unwind data names GuardHandler. Its frame record sits at [rsp + 32] of the
// trampoline's body, which is the establisher frame the system hands the
// handler. The nop keeps the return address out of what the unwinder takes
// for an epilogue: a frame caught in its epilogue gets no handler call.
// GuardResume is where the unwind lands, with the body's stack pointer.
extern "C" int32_t GuardTrampoline(GuardedProc proc, void* context, volatile GuardFrame* frame);
extern "C" char GuardResume[];
extern "C" EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD*, void*, CONTEXT*, DISPATCHER_CONTEXT*);

__asm__(
    "  .text\n"
    "  .def GuardTrampoline; .scl 3; .type 32; .endef\n"
    "  .seh_proc GuardTrampoline\n"
    "GuardTrampoline:\n"
    "  subq $40, %rsp\n"
    "  .seh_stackalloc 40\n"
    "  .seh_endprologue\n"
    "  .seh_handler GuardHandler, @except\n"
    "  movq %r8, 32(%rsp)\n"
    "  movq %rcx, %rax\n"
    "  movq %rdx, %rcx\n"
    "  call *%rax\n"
    "  nop\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    "GuardResume:\n"
    "  addq $40, %rsp\n"
    "  ret\n"
    "  .seh_endproc\n");

extern "C" __attribute__((used)) EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD* record,
                                                                    void* establisher, CONTEXT* context,
                                                                    DISPATCHER_CONTEXT* dispatch) {
  EXCEPTION_DISPOSITION disposition;
  if (!FilterChoosesUs(record, context, &disposition)) return disposition;
  auto* frame = *reinterpret_cast<volatile GuardFrame**>(static_cast<char*>(establisher) + 32);
  frame->code = record->ExceptionCode;
  frame->faulted = 1;
  // Runs the handlers of the frames above the trampoline for their clean-up,
  // then continues at GuardResume as if proc had returned.
  RtlUnwindEx(establisher, GuardResume, record, nullptr, context, dispatch->HistoryTable);
  return ExceptionContinueSearch;  // not reached
}

int32_t RunGuarded(GuardedProc proc, void* context, int32_t* result, uint32_t* faultCode) {
  volatile GuardFrame frame = {};
  const int32_t value = GuardTrampoline(proc, context, &frame);
  if (frame.faulted) {
    *faultCode = frame.code;
    return 1;
  }
  *result = value;
  return 0;
}

#else  // i386

namespace {

// Our record on the thread's exception-handler chain (FS:[0]); the platform
// passes its address back to the handler as the establisher frame.
struct GuardFrame {
  EXCEPTION_REGISTRATION_RECORD registration;
  void* resume[5];  // __builtin_setjmp buffer
  DWORD code;
};

// The thread information block; FS:[0x18] holds its own address.
volatile NT_TIB* ThreadInfo() {
  volatile NT_TIB* tib;
  __asm__ volatile("movl %%fs:0x18, %0" : "=r"(tib));
  return tib;
}

extern "C" EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD* record, void* establisher,
                                                      CONTEXT* context, void*) {
  EXCEPTION_DISPOSITION disposition;
  if (!FilterChoosesUs(record, context, &disposition)) return disposition;
  auto* frame = static_cast<GuardFrame*>(establisher);
  frame->code = record->ExceptionCode;
  // Lets the handlers of the frames above ours clean up and unlinks them;
  // afterwards our record is the head of the chain again.
  RtlUnwind(establisher, nullptr, record, nullptr);
  __builtin_longjmp(frame->resume, 1);
}

}  // namespace

int32_t RunGuarded(GuardedProc proc, void* context, int32_t* result, uint32_t* faultCode) {
  volatile GuardFrame frame = {};
  volatile NT_TIB* tib = ThreadInfo();
  frame.registration.Next = tib->ExceptionList;
  frame.registration.Handler = reinterpret_cast<PEXCEPTION_ROUTINE>(GuardHandler);
  if (__builtin_setjmp(const_cast<void**>(frame.resume)) != 0) {
    // Back from the handler: pop our record as the normal path does.
    ThreadInfo()->ExceptionList = frame.registration.Next;
    *faultCode = frame.code;
    return 1;
  }
  tib->ExceptionList = const_cast<EXCEPTION_REGISTRATION_RECORD*>(&frame.registration);
  const int32_t value = proc(context);
  tib->ExceptionList = frame.registration.Next;
  *result = value;
  return 0;
}

#endif
