// The drift worker: one background thread per saver window that prepares the
// effect and drifts the shaded patch over the snapshot, a frame per 50 ms.
#pragma once
#include <windows.h>

#include <cstdint>

#include "effect/frame_buffer.h"
#include "effect/shade_map.h"

struct DriftWorker {
  HWND window;
  HANDLE thread;         // null when no worker was started
  volatile LONG stop;    // bit 0: end at the next frame; written by the main thread only
  // The screen as it was before the saver window showed, taken on the main
  // thread at window creation: on a composited desktop an unpainted window is
  // black, so a capture taken once it shows would be of the saver itself. The
  // worker takes it over; one no worker took is destroyed with the window.
  FrameBuffer snapshot;
};

// The saver window's middle message layer: starts, stops and checks the worker.
LRESULT CALLBACK EffectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts RunDrift(record) for window at below-normal priority; the handle or null.
HANDLE StartDriftWorker(DriftWorker* record, HWND window);
// Sets the stop bit, waits for the worker to end and empties the record.
void StopDriftWorker(DriftWorker* record);
// Loads the map, takes over the snapshot and takes the save buffer.
// 0, or -1 with nothing held.
int32_t PrepareEffect(FrameBuffer* frame, Pixel555** saveBuffer, ShadeMap* map, const char* path,
                      FrameBuffer* snapshot);
void ReleaseEffect(FrameBuffer* frame, Pixel555** saveBuffer, ShadeMap* map);
// The worker's body: 0 after a stop, -1 when the effect cannot be prepared.
int32_t RunDrift(DriftWorker* record);
