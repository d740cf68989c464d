#include "host/fault_guard.h"

#include <windows.h>

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
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
    return ExceptionContinueSearch;
  EXCEPTION_POINTERS pointers = {record, context};
  const LONG verdict = UnhandledExceptionFilter(&pointers);
  if (verdict == EXCEPTION_CONTINUE_EXECUTION) return ExceptionContinueExecution;
  if (verdict != EXCEPTION_EXECUTE_HANDLER) return ExceptionContinueSearch;

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
