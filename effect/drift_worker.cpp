#include "effect/drift_worker.h"

#include "effect/block_ledger.h"
#include "effect/drift_path.h"
#include "effect/shade_kernels.h"
#include "effect/shade_table.h"
#include "host/saver_window.h"

namespace {

DriftWorker driftWorker;
// Where the worker finds its map. Too large for the worker's frame: the saver
// has no stack probe to grow a thread's stack past its guard page in one
// step. The process runs one worker (driftWorker) at a time.
char mapPathBuffer[kShadeMapPathCapacity];

constexpr char kFailureText[] = "Cannot load glmire.bmp";
constexpr DWORD kFrameMilliseconds = 50;

DWORD WINAPI DriftThread(LPVOID record) {
  return static_cast<DWORD>(RunDrift(static_cast<DriftWorker*>(record)));
}

// Bytes of a save buffer for the largest patch: the map cut to the screen.
// 0 when it does not fit the ledger's signed 32-bit sizes.
int32_t SaveBufferBytes(const ShadeMap* map) {
  const int64_t w = map->width < GetSystemMetrics(SM_CXSCREEN) ? map->width : GetSystemMetrics(SM_CXSCREEN);
  const int64_t h = map->height < GetSystemMetrics(SM_CYSCREEN) ? map->height : GetSystemMetrics(SM_CYSCREEN);
  const int64_t bytes = w * h * static_cast<int64_t>(sizeof(Pixel555));
  return bytes > 0 && bytes <= INT32_MAX ? static_cast<int32_t>(bytes) : 0;
}

// Windows 95 and NT 4 do not save the SSE registers when they switch tasks,
// though the processor may have them: the vector loop runs only where the
// system says it knows SSE2. The question itself is missing on Windows 95.
bool SystemKeepsSse2State() {
  typedef BOOL(WINAPI * FeatureProc)(DWORD feature);
  constexpr DWORD kSse2Feature = 10;  // PF_XMMI64_INSTRUCTIONS_AVAILABLE
  const auto present = reinterpret_cast<FeatureProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "IsProcessorFeaturePresent")));
  return present != nullptr && present(kSse2Feature);
}

// Some window systems put a window's drawing on the screen only when a
// thread of its process next looks at its messages (Wine does, and then at
// most every other frame of ours), while the main thread may sleep for long:
// the worker looks at its own, empty queue after each drawing. Elsewhere this
// returns at once.
void ShowDrawing() {
  MSG none;
  PeekMessageA(&none, nullptr, 0, 0, PM_NOREMOVE);
}

// Black over the whole client area and the failure text; the window stays
// and still closes on input.
void ShowFailure(HWND window, HDC dc) {
  RECT client = {};
  GetClientRect(window, &client);
  PatBlt(dc, 0, 0, client.right, client.bottom, BLACKNESS);
  TextOutA(dc, 0, 0, kFailureText, sizeof kFailureText - 1);
  ShowDrawing();
}

void OnEffectCreate() {
  driftWorker = DriftWorker{};
  // A failed capture leaves the snapshot empty; preparation then fails.
  CaptureScreen(&driftWorker.snapshot);
}

void OnEffectDestroy() {
  StopDriftWorker(&driftWorker);
  CheckBlockLedger();
}

void OnEffectEraseBackground(HWND window) {
  if (driftWorker.thread == nullptr) StartDriftWorker(&driftWorker, window);
}

}  // namespace

LRESULT CALLBACK EffectWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      OnEffectCreate();
      break;
    case WM_DESTROY:
      OnEffectDestroy();
      break;
    case WM_ERASEBKGND:
      // Nothing is painted: the window keeps showing the desktop picture.
      OnEffectEraseBackground(window);
      return 1;
    default:
      break;
  }
  return DefaultSaverWindowProc(window, message, wParam, lParam);
}

HANDLE StartDriftWorker(DriftWorker* record, HWND window) {
  const FrameBuffer snapshot = record->snapshot;
  *record = DriftWorker{};
  record->snapshot = snapshot;
  record->window = window;
  DWORD id = 0;
  record->thread = CreateThread(nullptr, 0, DriftThread, record, 0, &id);
  if (record->thread != nullptr) SetThreadPriority(record->thread, THREAD_PRIORITY_BELOW_NORMAL);
  return record->thread;
}

void StopDriftWorker(DriftWorker* record) {
  if (record->thread != nullptr) {
    InterlockedExchange(&record->stop, 1);
    WaitForSingleObject(record->thread, INFINITE);
    CloseHandle(record->thread);
  }
  if (record->snapshot.bitmap != nullptr) DestroyFrameBuffer(&record->snapshot);
  *record = DriftWorker{};
}

int32_t PrepareEffect(FrameBuffer* frame, Pixel555** saveBuffer, ShadeMap* map, const char* path,
                      FrameBuffer* snapshot) {
  uint8_t palette[256 * 4];
  if (path == nullptr || LoadShadeMap(map, palette, path) != 0) return -1;
  GrayPalette(map, palette);
  if (snapshot->bitmap == nullptr) {
    ReleaseShadeMap(map);
    return -1;
  }
  *frame = *snapshot;
  *snapshot = FrameBuffer{};
  const int32_t bytes = SaveBufferBytes(map);
  *saveBuffer = bytes > 0 ? static_cast<Pixel555*>(AllocBlock(bytes)) : nullptr;
  if (*saveBuffer == nullptr) {
    DestroyFrameBuffer(frame);
    ReleaseShadeMap(map);
    return -1;
  }
  BuildShadeTable();
  return 0;
}

void ReleaseEffect(FrameBuffer* frame, Pixel555** saveBuffer, ShadeMap* map) {
  FreeBlock(*saveBuffer);
  *saveBuffer = nullptr;
  DestroyFrameBuffer(frame);
  ReleaseShadeMap(map);
}

int32_t RunDrift(DriftWorker* record) {
  RECT desktop = {};
  GetWindowRect(GetDesktopWindow(), &desktop);
  const Rect screen{desktop.left, desktop.top, desktop.right, desktop.bottom};
  const int32_t W = screen.right - screen.left;
  const int32_t H = screen.bottom - screen.top;
  SeedRandom(GetTickCount());
  AllowSse2Shading(SystemKeepsSse2State());
  HWND window = record->window;
  HDC dc = GetDC(window);
  const char* mapPath = ShadeMapPath(mapPathBuffer, sizeof mapPathBuffer) == 0 ? mapPathBuffer : nullptr;
  RECT windowRect = {};
  GetWindowRect(window, &windowRect);

  FrameBuffer frame = {};
  Pixel555* saveBuffer = nullptr;
  ShadeMap map = {};
  if (W <= 0 || H <= 0 || PrepareEffect(&frame, &saveBuffer, &map, mapPath, &record->snapshot) != 0) {
    ShowFailure(window, dc);
    ReleaseDC(window, dc);
    return -1;
  }

  // A preview window is smaller than the screen: scale screen coordinates into it.
  const LONG windowW = windowRect.right - windowRect.left;
  const LONG windowH = windowRect.bottom - windowRect.top;
  if (windowW != W || windowH != H) {
    SetMapMode(dc, MM_ANISOTROPIC);
    SetViewportExtEx(dc, windowW, windowH, nullptr);
    SetWindowExtEx(dc, W, H, nullptr);
    // The default shrink ANDs the dropped pixels into the kept ones, which
    // darkens a picture and makes up colours at every edge; keep whole pixels.
    SetStretchBltMode(dc, COLORONCOLOR);
  }
  // The window may show black until drawn (composited desktops), so the whole
  // snapshot goes up once before the first frame.
  PresentRect(&frame, dc, screen, 0, 0);
  ShowDrawing();

  PixelSurface surface = FrameSurface(&frame);
  const ShadeTable* table = BuildShadeTable();
  int32_t sx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(W));
  int32_t sy = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(H));
  Rect prev{sx, sy, sx + 1, sy + 1};
  for (;;) {
    const int32_t tx = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(W));
    const int32_t ty = static_cast<int32_t>(NextRandom() % static_cast<uint32_t>(H));
    DriftSegment segment = BeginSegment(sx, sy, tx, ty);
    for (int32_t i = 0; i < segment.steps; ++i) {
      if (record->stop & 1) {
        ReleaseDC(window, dc);
        ReleaseEffect(&frame, &saveBuffer, &map);
        return 0;
      }
      const Rect patch = PatchRect(&segment, map.width, map.height);
      const Rect clip = RectIntersection(patch, screen);
      SaveRect(&frame, clip, saveBuffer);
      ShadeRect(&surface, clip, &map, clip.left - patch.left, clip.top - patch.top, table);
      // The new patch and the place of the old one, already clean in the
      // frame, reach the window in one call.
      const Rect dirty = RectUnion(clip, prev);
      PresentRect(&frame, dc, dirty, dirty.left, dirty.top);
      ShowDrawing();
      RestoreRect(&frame, clip, saveBuffer);
      prev = clip;
      Sleep(kFrameMilliseconds);
      AdvanceSegment(&segment);
    }
    sx = tx;
    sy = ty;
  }
}
