// A structured-exception guard for MinGW, which has no __try/__except on i386.
#pragma once
#include <cstdint>

typedef int32_t (*GuardedProc)(void* context);

// Runs proc(context). A processor fault or other exception that escapes it is
// handed to UnhandledExceptionFilter; when the filter chooses to handle it, the
// frames above are unwound, *faultCode receives the exception code and the
// result is 1. Otherwise proc's result lands in *result and the result is 0.
int32_t RunGuarded(GuardedProc proc, void* context, int32_t* result, uint32_t* faultCode);
