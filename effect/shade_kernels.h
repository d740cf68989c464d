// The loops behind ShadeRect. ShadeRect picks one by what the processor can
// run; each is declared here so tests and benchmarks can hold them side by side.
#pragma once

#include "effect/shade_table.h"

// Three table reads per pixel: the reference, and the path of every processor.
void ShadeRectTable(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                    const ShadeTable* table);

// SSE2, eight pixels per 16-bit lane group; writes exactly what ShadeRectTable
// writes. Call it only when CpuHasSse2() says so, and on 32-bit Windows
// only where the system keeps the SSE state (the table serves the last
// few pixels of a row). Without an x86 processor it is the table path.
void ShadeRectSse2(PixelSurface* frame, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                   const ShadeTable* table);

// The 8-bit rule on a 32-bit surface: the table, and SSE2 four pixels at a
// time with exactly the table's result, under the same conditions as
// ShadeRectSse2.
void ShadeCopyRectTable(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                        const ChannelShadeTable* table);
void ShadeCopyRectSse2(CopySurface* surface, Rect clip, const ShadeMap* map, int32_t mapX, int32_t mapY,
                       const ChannelShadeTable* table);

// True when the processor reports SSE2. Compiled without SSE2 itself, so it is
// safe to call on a 486 or a Pentium.
bool CpuHasSse2();

// Lets ShadeRect and ShadeCopyRect take the vector loops (or not). Only ChooseShadeLoop (the
// Win32 layer, which can ask the system too) and tests that pit the loops
// against each other call it; until then ShadeRect runs the table loop.
void UseSse2Shading(bool chosen);

// True when ShadeRect and ShadeCopyRect run the SSE2 loops in this process.
bool ShadeRectUsesSse2();
