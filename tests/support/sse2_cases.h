// How a vector case meets a processor without SSE2. Most trees skip it; the
// i386 tree (GLMIRE_SSE2_REQUIRED) fails it, for that tree runs on an SSE2
// processor, real or emulated, precisely so that every vector case runs.
#pragma once
#include <gtest/gtest.h>

#include "effect/shade_kernels.h"

#if defined(GLMIRE_SSE2_REQUIRED)
#define SKIP_WITHOUT_SSE2() \
  ASSERT_TRUE(CpuHasSse2()) << "processor without SSE2: this tree must run every vector case"
#else
#define SKIP_WITHOUT_SSE2() \
  if (!CpuHasSse2()) GTEST_SKIP() << "processor without SSE2"
#endif
