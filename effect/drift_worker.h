// The drift worker: one background thread per saver window that prepares the
// effect and drifts the shaded patch over the snapshot, a frame per 50 ms;
// and the saver window's middle message layer, which starts and stops it.
#pragma once
#include <windows.h>

#include <cstdint>

#include "effect/frame_buffer.h"
#include "effect/shade_map.h"
#include "effect/shade_table.h"

struct DriftWorker {
  HWND window;
  HANDLE thread;         // null when no worker was started
  volatile LONG stop;    // bit 0: end at the next frame; written by the main thread only
  // Non-zero: the system asked for the window to be painted, so the next
  // frame puts the whole picture up, not just the patch's places. Set by the
  // main thread and taken (read and cleared in one step) by the worker, both
  // with InterlockedExchange, as the stop bit is written.
  volatile LONG repaint;
  // Set with the stop bit, so that a worker waiting out the time between two
  // frames ends at once rather than up to a frame later: the process ends
  // that much sooner after the window is gone. Null: the worker sleeps.
  HANDLE wake;
  // The thread that started the worker and runs the window's messages.
  DWORD owner;
  // The screen as it was before the saver window showed, taken on the main
  // thread at window creation: on a composited desktop an unpainted window is
  // black, so a capture taken once it shows would be of the saver itself.
  // For a full-screen window that is the exact copy (32 bits a pixel), which
  // is shaded and shown, so the desktop keeps every bit the 5-5-5 snapshot
  // drops. A preview, or a window without room for the copy, takes the
  // snapshot itself. The record owns both until the worker takes them
  // (TakeSnapshot); what no worker took is destroyed by StopDriftWorker.
  FrameBuffer snapshot;
  FrameBuffer copy;
};

// Posted by the worker to its owner when the window is gone though the owner
// never destroyed it: a window of another process's that held it (the
// preview's pane) went with that process, and no WM_DESTROY came.
constexpr UINT WindowGoneMessage = WM_APP + 1;

// Runs proc(context) under a fault guard: 0 with proc's result in *result,
// or non-zero (the fault's code in *faultCode) when a fault was handled.
typedef int32_t (*DriftGuardProc)(int32_t (*proc)(void* context), void* context, int32_t* result,
                                  uint32_t* faultCode);

// What the effect layer is given by whoever composes the saver window: the
// layer after it, and the guard its worker runs under (none: unguarded).
struct EffectLinks {
  WNDPROC next;
  DriftGuardProc guard;
};
// Takes effect for messages and workers from then on; null links pass every
// message to DefWindowProcA and run the worker unguarded.
void ConnectEffectLayer(const EffectLinks* links);

// The saver window's middle message layer: starts, stops and checks the worker.
LRESULT CALLBACK EffectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The worker's dealings with the file system and the screen. The saver's own
// unless a test sets others (SetDriftPieces(nullptr) goes back to them).
struct DriftPieces {
  // LoadShadeMap's contract: 0, or negative with the record empty.
  int32_t (*loadMap)(ShadeMap* map, uint8_t* palette, const ShadeMapFile* file);
  // Draws rect of frame at its own place on dc (PresentRect), and sees that it
  // reaches the screen.
  void (*present)(const FrameBuffer* frame, HDC dc, Rect rect);
  // CaptureScreenCopy's contract; a full-screen window without the copy runs
  // on the 5-5-5 snapshot. Null: the saver's own.
  int32_t (*captureCopy)(FrameBuffer* copy);
};
void SetDriftPieces(const DriftPieces* pieces);

// Starts RunDrift(record) for window at below-normal priority; the handle or null.
HANDLE StartDriftWorker(DriftWorker* record, HWND window);
// Sets the stop bit, waits for the worker to end and empties the record. The
// worker is raised to normal priority first: at its own it may wait for
// seconds behind busy programs, and the window cannot finish closing meanwhile.
void StopDriftWorker(DriftWorker* record);
// What a running effect holds. The full-screen saver shades and shows its
// exact copy and needs no 5-5-5 snapshot; a preview, or a run without room
// for the copy or its save buffer, shades and shows the snapshot.
struct EffectParts {
  FrameBuffer copy;       // empty: the snapshot is shown everywhere
  uint32_t* copySave;     // the copy's patch while the shaded one is in it
  FrameBuffer frame;      // the 5-5-5 snapshot; empty while the copy is shown
  Pixel555* saveBuffer;   // the snapshot's patch
  ShadeMap map;
};

// The one handover of the snapshot and the copy: from the record to parts,
// which own them from then on; the record's are left empty.
void TakeSnapshot(DriftWorker* record, EffectParts* parts);
// parts holds what was taken over (the copy, or the snapshot); loads the map,
// takes the save buffer for the picture that will be shown (falling back
// from the copy to a snapshot made from it when the copy's buffer cannot be
// had), builds that picture's shading table and chooses the shading loop.
// 0, or -1 with nothing held.
int32_t PrepareEffect(EffectParts* parts, const ShadeMapFile* file);
// Gives back everything parts holds, whatever the phase; parts reads empty.
void ReleaseEffect(EffectParts* parts);
// The worker's body: 0 after a stop, -1 when the effect cannot be prepared or
// a fault was handled.
int32_t RunDrift(DriftWorker* record);
