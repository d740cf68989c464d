#include "effect/drift_worker.h"

#include "effect/block_ledger.h"
#include "effect/drift_frame.h"
#include "effect/drift_path.h"
#include "effect/shade_loop.h"
#include "effect/shade_table.h"
#include "effect/system_entry.h"

namespace {

DriftWorker driftWorker;
EffectLinks effectLinks = {nullptr, nullptr};
// Where the worker finds its map. Too large for the worker's frame: the saver
// has no stack probe to grow a thread's stack past its guard page in one
// step. The process runs one worker (driftWorker) at a time.
char mapPathBuffer[kShadeMapPathCapacity];
uint16_t mapPathWide[kShadeMapPathCapacity];

constexpr char kFailureText[] = "Cannot load glmire.bmp";
constexpr DWORD kFrameMilliseconds = 50;

// Some window systems put a window's drawing on the screen only when a
// thread of its process next looks at its messages (Wine does, and then at
// most every other frame of ours), while the main thread may sleep for long:
// the worker looks at its own, empty queue after each drawing. Elsewhere this
// returns at once.
void ShowDrawing() {
  MSG none;
  PeekMessageA(&none, nullptr, 0, 0, PM_NOREMOVE);
}

void PresentOnScreen(const FrameBuffer* frame, HDC dc, Rect rect) {
  PresentRect(frame, dc, rect, rect.left, rect.top);
  ShowDrawing();
}

const DriftPieces kSaverPieces = {LoadShadeMap, PresentOnScreen, CaptureScreenCopy};
const DriftPieces* driftPieces = &kSaverPieces;

// Everything one run of the worker holds. It lives in RunDrift's frame,
// outside the fault guard: a handled fault unwinds every frame inside the
// guard without running any of their clean-up, so what they took must be
// recorded here to be given back.
struct DriftRun {
  DriftWorker* record;
  HWND window;
  HWND pane;         // a preview's parent, the host's pane; null in full screen
  bool goneTold;     // the owner was told the window is gone
  HDC dc;
  Rect screen;       // the shown picture's bounds
  bool wholeFrame;   // this frame presents all of screen (a repaint was asked for)
  EffectParts parts;
  // The pictures as the frame step sees them.
  PixelSurface snapshotSurface;
  CopySurface copySurface;
};

// What reaches the screen: the exact copy where there is one.
const FrameBuffer* ShownPicture(const DriftRun* run) {
  return run->parts.copy.bitmap ? &run->parts.copy : &run->parts.frame;
}

// A display change that the password lock outlived (9x) leaves the window
// over a larger screen than the picture: the rest is black, never whatever
// the screen held there.
void BlackenBeyondPicture(const DriftRun* run) {
  RECT client = {};
  GetClientRect(run->window, &client);
  const Rect picture = run->screen;
  if (client.right > picture.right)
    PatBlt(run->dc, picture.right, 0, client.right - picture.right, client.bottom, BLACKNESS);
  if (client.bottom > picture.bottom)
    PatBlt(run->dc, 0, picture.bottom, picture.right, client.bottom - picture.bottom, BLACKNESS);
}

void PresentFrame(void* context, Rect rect) {
  const DriftRun* run = static_cast<const DriftRun*>(context);
  if (run->wholeFrame) BlackenBeyondPicture(run);
  driftPieces->present(ShownPicture(run), run->dc, run->wholeFrame ? run->screen : rect);
}

// A preview's window goes with the host's pane when the host dies, and its
// thread is told nothing: the worker looks for both between frames and tells
// the owner once. A full-screen window has no pane and goes only through its
// own thread's DestroyWindow, so nothing is looked at for it.
void WatchWindow(DriftRun* run) {
  if (run->pane == nullptr || run->goneTold || (IsWindow(run->window) && IsWindow(run->pane))) return;
  run->goneTold = true;
  PostThreadMessageA(run->record->owner, WindowGoneMessage, 0, 0);
}

// The time between two frames, cut short when the worker is told to stop.
void AwaitNextFrame(DriftRun* run) {
  WatchWindow(run);
  const HANDLE wake = run->record->wake;
  if (wake == nullptr || WaitForSingleObject(wake, kFrameMilliseconds) == WAIT_FAILED) Sleep(kFrameMilliseconds);
}

bool TakeRepaint(DriftWorker* record) { return InterlockedExchange(&record->repaint, 0) != 0; }

DWORD WINAPI DriftThread(LPVOID record) {
  return static_cast<DWORD>(RunDrift(static_cast<DriftWorker*>(record)));
}

// Black over the whole client area and the failure text; the window stays
// and still closes on input.
void DrawFailure(HWND window, HDC dc) {
  RECT client = {};
  GetClientRect(window, &client);
  PatBlt(dc, 0, 0, client.right, client.bottom, BLACKNESS);
  TextOutA(dc, 0, 0, kFailureText, sizeof kFailureText - 1);
  ShowDrawing();
}

// A failure is found moments after the window appeared, and a drawing made
// while the window system is still putting the window up may be lost (Wine
// loses it now and then, for longer on a busy machine); unlike frames,
// nothing would draw it again. So it is drawn again every few frames until
// the worker is told to stop.
void ShowFailure(DriftRun* run) {
  DrawFailure(run->window, run->dc);
  for (unsigned tick = 1; !(run->record->stop & 1); ++tick) {
    AwaitNextFrame(run);
    if (TakeRepaint(run->record) || tick % 5 == 0) DrawFailure(run->window, run->dc);
  }
}

// The worker's life once it holds the window's context: preparation, then
// frames until the stop bit. Runs under the fault guard.
int32_t AnimateDrift(void* context) {
  DriftRun* run = static_cast<DriftRun*>(context);
  SeedRandom(GetTickCount());
  ShadeMapFile mapFile = {};
  const ShadeMapFile* mapPath =
      ShadeMapFileBeside(&mapFile, mapPathWide, mapPathBuffer, kShadeMapPathCapacity) == 0 ? &mapFile : nullptr;
  RECT windowRect = {};
  GetWindowRect(run->window, &windowRect);
  if (PrepareEffect(&run->parts, mapPath) != 0) {
    ShowFailure(run);
    return -1;
  }

  // The screen is the shown picture's: the patch moves and is cut inside
  // exactly the pixels that were captured, whatever the display does meanwhile.
  EffectParts* parts = &run->parts;
  DriftFrame step = {&parts->map, {}, {}, Rect{}, PresentFrame, run};
  if (parts->copy.bitmap) {
    run->copySurface = CopyFrameSurface(&parts->copy);
    step.copy = CopyPicture{&run->copySurface, BuildChannelShadeTable(), parts->copySave};
  } else {
    run->snapshotSurface = FrameSurface(&parts->frame);
    step.snapshot = SnapshotPicture{&run->snapshotSurface, BuildShadeTable(), parts->saveBuffer};
  }
  const Rect screen = DriftBounds(&step);
  run->screen = screen;
  const LONG windowW = windowRect.right - windowRect.left;
  const LONG windowH = windowRect.bottom - windowRect.top;
  if (windowW != screen.right || windowH != screen.bottom) {
    // A preview window is smaller than the screen: scale screen coordinates into it.
    SetMapMode(run->dc, MM_ANISOTROPIC);
    SetViewportExtEx(run->dc, windowW, windowH, nullptr);
    SetWindowExtEx(run->dc, screen.right, screen.bottom, nullptr);
    // The default shrink ANDs the dropped pixels into the kept ones, which
    // darkens a picture and makes up colours at every edge; keep whole pixels.
    SetStretchBltMode(run->dc, COLORONCOLOR);
  }
  // The window may show black until drawn (composited desktops), so the whole
  // screen goes up once before the first frame; that answers any paint
  // request made while the worker prepared.
  TakeRepaint(run->record);
  driftPieces->present(ShownPicture(run), run->dc, screen);

  int32_t sx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(screen.right));
  int32_t sy = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(screen.bottom));
  step.prev = DriftStartRect(sx, sy);
  for (;;) {
    const int32_t tx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(screen.right));
    const int32_t ty = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(screen.bottom));
    DriftSegment segment = BeginSegment(sx, sy, tx, ty);
    for (int32_t i = 0; i < segment.steps; ++i) {
      if (run->record->stop & 1) return 0;
      // Whole, shaded patch and all: a preview's context maps screen
      // coordinates into the window, so no part of the request's own
      // rectangle could be named here.
      run->wholeFrame = TakeRepaint(run->record);
      StepDriftFrame(&step, &segment);
      AwaitNextFrame(run);
      AdvanceSegment(&segment);
    }
    sx = tx;
    sy = ty;
  }
}

void OnEffectCreate(const CREATESTRUCTA* create) {
  driftWorker = DriftWorker{};
  // A failed capture leaves the snapshot empty; preparation then fails.
  // A full-screen window takes the exact copy, which the worker shades and
  // shows; without room for the copy the snapshot is taken here as a
  // preview takes it.
  const auto captureCopy = driftPieces->captureCopy ? driftPieces->captureCopy : CaptureScreenCopy;
  if ((create->style & WS_CHILD) || captureCopy(&driftWorker.copy) != 0)
    CaptureScreen(&driftWorker.snapshot);
}

void OnEffectDestroy() {
  StopDriftWorker(&driftWorker);
  CheckBlockLedger();
}

// The system asks for the window's pixels again when something that covered
// it went away; where no compositor keeps the window's own copy, whatever
// covered it stays on the screen until the saver draws there. Only the worker
// draws, and it owns the pictures, so it is asked to, and the main thread
// never waits for it.
void RequestRepaint() { InterlockedExchange(&driftWorker.repaint, 1); }

typedef BOOL(WINAPI* ValidateRectProc)(HWND window, const RECT* rect);
// Looked up at run time, as the saver imports only what the oldest systems
// are known to implement. Written and read by the main thread alone.
ValidateRectProc validateRect;
bool validateRectLooked;

// A paint request once the worker runs: the update region is validated without
// BeginPaint, which would clip the worker's frames to that region on the
// context they share (the class gives the window one context) and have a
// frame drawn meanwhile half lost. false: the request is left to the next
// layers (before the worker runs, their BeginPaint sends the first erase
// request, which starts it).
bool OnEffectPaint(HWND window) {
  if (driftWorker.thread == nullptr) return false;
  if (!validateRectLooked) {
    validateRectLooked = true;
    validateRect = SystemEntry<ValidateRectProc>("USER32.DLL", "ValidateRect");
  }
  if (validateRect == nullptr) return false;
  RequestRepaint();
  validateRect(window, nullptr);
  return true;
}

void OnEffectEraseBackground(HWND window, HDC dc) {
  if (driftWorker.thread != nullptr) {
    RequestRepaint();
    return;
  }
  // Until the worker's first drawing the window shows the desktop exactly,
  // from the copy: a composited desktop would show it black meanwhile. The
  // worker owns the copy once it starts, so this is drawn before.
  const FrameBuffer* copy = &driftWorker.copy;
  if (copy->bitmap != nullptr && dc != nullptr)
    PresentRect(copy, dc, Rect{0, 0, copy->header.biWidth, -copy->header.biHeight}, 0, 0);
  StartDriftWorker(&driftWorker, window);
}

}  // namespace

void ConnectEffectLayer(const EffectLinks* links) { effectLinks = links ? *links : EffectLinks{}; }

void SetDriftPieces(const DriftPieces* pieces) { driftPieces = pieces ? pieces : &kSaverPieces; }

LRESULT CALLBACK EffectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnEffectCreate(reinterpret_cast<const CREATESTRUCTA*>(lParam));
      break;
    case WM_DESTROY:
      OnEffectDestroy();
      break;
    case WM_ERASEBKGND:
      // Nothing but the desktop as it was is painted.
      OnEffectEraseBackground(window, reinterpret_cast<HDC>(wParam));
      return 1;
    case WM_PAINT:
      if (OnEffectPaint(window)) return 0;
      break;
    default:
      break;
  }
  const WNDPROC next = effectLinks.next ? effectLinks.next : DefWindowProcA;
  return next(window, message, wParam, lParam);
}

HANDLE StartDriftWorker(DriftWorker* record, HWND window) {
  // Everything but the snapshot and the copy, which stay the record's until
  // the worker takes them.
  record->window = window;
  record->stop = 0;
  record->repaint = 0;
  record->wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  record->owner = GetCurrentThreadId();
  DWORD id = 0;
  record->thread = CreateThread(nullptr, 0, DriftThread, record, 0, &id);
  if (record->thread != nullptr) {
    SetThreadPriority(record->thread, THREAD_PRIORITY_BELOW_NORMAL);
  } else if (record->wake != nullptr) {
    // The next erase request tries again, with an event of its own.
    CloseHandle(record->wake);
    record->wake = nullptr;
  }
  return record->thread;
}

void StopDriftWorker(DriftWorker* record) {
  if (record->thread != nullptr) {
    SetThreadPriority(record->thread, THREAD_PRIORITY_NORMAL);
    InterlockedExchange(&record->stop, 1);
    if (record->wake != nullptr) SetEvent(record->wake);
    WaitForSingleObject(record->thread, INFINITE);
    CloseHandle(record->thread);
  }
  if (record->wake != nullptr) CloseHandle(record->wake);
  DestroyFrameBuffer(&record->snapshot);
  DestroyFrameBuffer(&record->copy);
  *record = DriftWorker{};
}

void TakeSnapshot(DriftWorker* record, EffectParts* parts) {
  parts->frame = record->snapshot;
  parts->copy = record->copy;
  record->snapshot = FrameBuffer{};
  record->copy = FrameBuffer{};
}

namespace {

// A save buffer for the patch of a picture of frame's size, or null.
void* TakeSaveBuffer(const FrameBuffer* frame, const ShadeMap* map, int32_t elementBytes) {
  const int32_t count = DriftSaveBufferCount(frame->header.biWidth, -frame->header.biHeight, map, elementBytes);
  return count > 0 ? AllocBlock(count * elementBytes) : nullptr;
}

}  // namespace

int32_t PrepareEffect(EffectParts* parts, const ShadeMapFile* path) {
  parts->copySave = nullptr;
  parts->saveBuffer = nullptr;
  parts->map = ShadeMap{};
  uint8_t palette[256 * 4];
  const bool pictured = parts->copy.bitmap != nullptr || parts->frame.bitmap != nullptr;
  if (!pictured || path == nullptr || driftPieces->loadMap(&parts->map, palette, path) != 0) {
    ReleaseEffect(parts);
    return -1;
  }
  GrayPalette(&parts->map, palette);
  if (parts->copy.bitmap != nullptr) {
    parts->copySave = static_cast<uint32_t*>(TakeSaveBuffer(&parts->copy, &parts->map, sizeof(uint32_t)));
    // No room for the copy's patch: the snapshot, made from the copy as the
    // screen was, is shown everywhere instead.
    if (parts->copySave == nullptr) {
      SnapshotFromCopy(&parts->frame, &parts->copy);
      DestroyFrameBuffer(&parts->copy);
    }
  }
  if (parts->copy.bitmap == nullptr) {
    if (parts->frame.bitmap != nullptr)
      parts->saveBuffer = static_cast<Pixel555*>(TakeSaveBuffer(&parts->frame, &parts->map, sizeof(Pixel555)));
    if (parts->saveBuffer == nullptr) {
      ReleaseEffect(parts);
      return -1;
    }
  }
  ChooseShadeLoop();
  return 0;
}

void ReleaseEffect(EffectParts* parts) {
  FreeBlock(parts->copySave);
  FreeBlock(parts->saveBuffer);
  DestroyFrameBuffer(&parts->copy);
  DestroyFrameBuffer(&parts->frame);
  ReleaseShadeMap(&parts->map);
  *parts = EffectParts{};
}

int32_t RunDrift(DriftWorker* record) {
  const DriftGuardProc guard = effectLinks.guard;
  DriftRun run = {};
  run.record = record;
  run.window = record->window;
  run.pane = GetParent(run.window);  // none for the full-screen popup, which has no owner
  TakeSnapshot(record, &run.parts);
  run.dc = GetDC(run.window);
  int32_t result = -1;
  uint32_t faultCode = 0;
  if (guard == nullptr)
    result = AnimateDrift(&run);
  else if (guard(AnimateDrift, &run, &result, &faultCode) != 0)
    result = -1;  // a handled fault: what the run holds is given back below
  ReleaseDC(run.window, run.dc);
  ReleaseEffect(&run.parts);
  return result;
}
