// A fault in the drift worker, run by the real saver window in this process:
// the worker gives back what it holds and ends, the window stays and closes
// on input, and on the 9x family the system is told the saver ended.
#include "effect/drift_worker.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "effect/block_ledger.h"
#include "effect/shade_loop.h"
#include "effect/shade_kernels.h"
#include "host/saver_state.h"
#include "host/saver_window.h"
#include "tests/support/win_paths.h"
#include "tests/support/win_session.h"

namespace {

std::string TempFile(const char* name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name + std::to_string(GetCurrentProcessId());
}

void Crash() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

// A 64x64 map in a ledger block, every palette entry gray 128.
void TakeMap(ShadeMap* map, uint8_t* palette) {
  map->pixels = static_cast<uint8_t*>(AllocBlock(64 * 64));
  map->width = 64;
  map->height = 64;
  for (int i = 0; i < 256 * 4; ++i) palette[i] = 128;
}

int32_t LoadThenCrash(ShadeMap* map, uint8_t* palette, const ShadeMapFile*) {
  TakeMap(map, palette);
  Crash();  // as the reader would, part-way through a file
  return 0;
}

int32_t LoadInMemory(ShadeMap* map, uint8_t* palette, const ShadeMapFile*) {
  TakeMap(map, palette);
  return 0;
}

int presents;
void Present(const FrameBuffer* frame, HDC dc, Rect rect) {
  ++presents;
  PresentRect(frame, dc, rect, rect.left, rect.top);
}
void PresentThenCrash(const FrameBuffer* frame, HDC dc, Rect rect) {
  if (presents == 3) Crash();  // the snapshot and two frames are up
  Present(frame, dc, rect);
}

int faultFilterCalls;
LONG WINAPI HandleFault(EXCEPTION_POINTERS*) {
  ++faultFilterCalls;
  return EXCEPTION_EXECUTE_HANDLER;
}

// Counts and dismisses the ledger's box from a thread of its own.
volatile LONG boxes;
volatile LONG watching;
DWORD WINAPI WatchForBoxes(LPVOID) {
  HWND last = nullptr;
  while (watching) {
    HWND box = FindWindowA(nullptr, "Programmer Error");
    if (box != nullptr && box != last) InterlockedIncrement(&boxes);
    if (box != nullptr) PostMessageA(box, WM_COMMAND, IDOK, 0);
    last = box;
    Sleep(10);
  }
  return 0;
}

struct Seen {
  int windowStayed;
  int runningMeanwhile;
} afterFault;

// Well after the fault: is the window still there, does the system believe a
// saver runs; then a key press, which the saver answers by closing.
void CALLBACK LookThenPress(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  afterFault.windowStayed = IsWindow(saverState.window) ? 1 : 0;
  afterFault.runningMeanwhile = SaverRunning();
  PostMessageA(saverState.window, WM_KEYDOWN, VK_SPACE, 0);
}

// Never needed when the saver closes on input; keeps a broken run from hanging.
void CALLBACK GiveUp(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (IsWindow(saverState.window)) DestroyWindow(saverState.window);
}

// The 9x family with saver passwords on and a verifier that lets the user
// through: the system then knows while the saver runs.
class WorkerFault : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = saverState;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kDesktopKey, &desktop), ERROR_SUCCESS);
    originalSize = sizeof original;
    hadValue = RegQueryValueExA(desktop, kUsePassword, nullptr, &originalType, original, &originalSize) ==
               ERROR_SUCCESS;
    const DWORD on = 1;
    RegSetValueExA(desktop, kUsePassword, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
    char system[MAX_PATH] = {};
    GetSystemDirectoryA(system, MAX_PATH);
    verifier = std::string(system) + "\\PASSWORD.CPL";
    ASSERT_TRUE(CopyFileA((Folder(ProgramFolder()) + "\\tools\\verify_stub.dll").c_str(), verifier.c_str(), FALSE));
    answer = TempFile("glmire-answer-");
    HANDLE file = CreateFileA(answer.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "1", 1, &written, nullptr);
    CloseHandle(file);
    SetEnvironmentVariableA("GLMIRE_STUB_ANSWER", answer.c_str());
    oldFilter = SetUnhandledExceptionFilter(HandleFault);
    watching = 1;
    watcher = CreateThread(nullptr, 0, WatchForBoxes, nullptr, 0, nullptr);
  }
  void TearDown() override {
    watching = 0;
    WaitForSingleObject(watcher, 5000);
    CloseHandle(watcher);
    SetUnhandledExceptionFilter(oldFilter);
    SetDriftPieces(nullptr);
    SetEnvironmentVariableA("GLMIRE_STUB_ANSWER", nullptr);
    DeleteFileA(answer.c_str());
    DeleteFileA(verifier.c_str());
    if (hadValue)
      RegSetValueExA(desktop, kUsePassword, 0, originalType, original, originalSize);
    else
      RegDeleteValueA(desktop, kUsePassword);
    RegCloseKey(desktop);
    saverState = saved;
  }
  SaverState saved = {};
  HKEY desktop = nullptr;
  bool hadValue = false;
  DWORD originalType = 0;
  BYTE original[256] = {};
  DWORD originalSize = 0;
  std::string verifier, answer;
  LPTOP_LEVEL_EXCEPTION_FILTER oldFilter = nullptr;
  HANDLE watcher = nullptr;
};

TEST_F(WorkerFault, TheWorkerGivesBackWhatItHoldsAndTheSaverEndsNormally) {
  struct Case {
    const char* name;
    DriftPieces pieces;
  };
  const Case cases[] = {
      {"the map reader faults after taking its block", {LoadThenCrash, Present, nullptr}},
      {"a frame faults while the map, the exact copy and its save buffer are held",
       {LoadInMemory, PresentThenCrash, nullptr}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    saverState = saved;
    saverState.instance = GetModuleHandleA(nullptr);
    saverState.isWin9x = 1;
    saverState.lastPasswordCheck = 0xFFFFFFFFu;
    saverState.wakeThreshold = 4;
    faultFilterCalls = 0;
    presents = 0;
    boxes = 0;
    afterFault = {-1, -1};
    CheckBlockLedger();  // whatever came before starts no box here
    SetDriftPieces(&k.pieces);
    SetTimer(nullptr, 0, 1500, LookThenPress);
    SetTimer(nullptr, 0, 10000, GiveUp);

    EXPECT_EQ(RunSaverWindow(nullptr), 0);
    EXPECT_EQ(faultFilterCalls, 1) << "the worker faulted once, and only there";
    EXPECT_EQ(afterFault.windowStayed, 1);
    EXPECT_EQ(afterFault.runningMeanwhile, 1);
    EXPECT_EQ(SaverRunning(), 0) << "the system still believes a saver runs";
    Sleep(100);
    EXPECT_EQ(boxes, 0) << "the worker did not give back its blocks";
    EXPECT_EQ(CheckBlockLedger(), 0);
    UnregisterClassA("WindowsScreenSaverClass", saverState.instance);
  }
}

TEST(ShadeLoop, TheVectorLoopRunsWhereProcessorAndSystemAllowIt) {
  // Wine keeps the SSE state, so here the processor decides.
  EXPECT_EQ(ChooseShadeLoop(), CpuHasSse2());
  EXPECT_EQ(ShadeRectUsesSse2(), CpuHasSse2());
  UseSse2Shading(false);
}

int32_t FailToLoad(ShadeMap*, uint8_t*, const ShadeMapFile*) { return -1; }

COLORREF seenAtCentre;
int looksAtCentre;
// Draws over the failure screen as a lost drawing would leave it.
void CALLBACK SpoilFailure(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  HDC dc = GetDC(saverState.window);
  PatBlt(dc, 0, 0, 4096, 4096, WHITENESS);
  ReleaseDC(saverState.window, dc);
}
// Looks at the centre from a second after the spoiling on, every 100 ms until
// the failure screen is back or 60 looks have seen it spoilt (a busy machine
// may give the worker its turn late), then presses a key.
void CALLBACK LookAtCentre(HWND, UINT, UINT_PTR id, DWORD) {
  HDC dc = GetDC(saverState.window);
  seenAtCentre = GetPixel(dc, GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2);
  ReleaseDC(saverState.window, dc);
  if (seenAtCentre != RGB(0, 0, 0) && ++looksAtCentre < 60) return;
  KillTimer(nullptr, id);
  PostMessageA(saverState.window, WM_KEYDOWN, VK_SPACE, 0);
}
void CALLBACK LookAtCentreThenPress(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  looksAtCentre = 0;
  SetTimer(nullptr, 0, 100, LookAtCentre);
}

// Only the worker draws the failure screen: when the window system loses it,
// however late, the worker puts it back.
TEST(WorkerFailure, TheFailureScreenComesBackAfterItWasLost) {
  const SaverState saved = saverState;
  saverState.instance = GetModuleHandleA(nullptr);
  saverState.lastPasswordCheck = 0xFFFFFFFFu;
  saverState.wakeThreshold = 4;
  const DriftPieces pieces = {FailToLoad, Present, nullptr};
  SetDriftPieces(&pieces);
  seenAtCentre = CLR_INVALID;
  SetTimer(nullptr, 0, 1000, SpoilFailure);
  SetTimer(nullptr, 0, 2000, LookAtCentreThenPress);
  const UINT_PTR giveUp = SetTimer(nullptr, 0, 15000, GiveUp);

  EXPECT_EQ(RunSaverWindow(nullptr), 0);
  KillTimer(nullptr, giveUp);
  EXPECT_EQ(seenAtCentre, RGB(0, 0, 0)) << "still spoilt after " << looksAtCentre << " looks";
  SetDriftPieces(nullptr);
  UnregisterClassA("WindowsScreenSaverClass", saverState.instance);
  saverState = saved;
}

int32_t RefuseTheCopy(FrameBuffer*) { return -1; }

// What the frames were drawn from: the bits a pixel of every picture presented.
int presentedDepths[2];  // [0]: 16 (the 5-5-5 snapshot), [1]: 32 (the exact copy)
int otherDepths;
void CountDepth(const FrameBuffer* frame, HDC dc, Rect rect) {
  const WORD bits = frame->header.biBitCount;
  if (bits == 16 || bits == 32)
    ++presentedDepths[bits / 32];
  else
    ++otherDepths;
  Present(frame, dc, rect);
}
// A key press once the whole screen and a few frames are presented, however
// late a busy machine lets the worker draw them.
void CALLBACK PressAfterFrames(HWND, UINT, UINT_PTR id, DWORD) {
  if (presentedDepths[0] + presentedDepths[1] + otherDepths < 4) return;
  KillTimer(nullptr, id);
  PostMessageA(saverState.window, WM_KEYDOWN, VK_SPACE, 0);
}

// The full-screen saver draws every frame from the exact copy; refused the
// copy, from the 5-5-5 snapshot (which the core's tests hold to the 5-bit
// rule), and the ledger balances either way.
TEST(FullScreenPicture, EveryFrameComesFromTheCopyOrWithoutItFromTheSnapshot) {
  struct Case {
    const char* name;
    int32_t (*captureCopy)(FrameBuffer*);
    int shownDepth;  // index into presentedDepths
  };
  const Case cases[] = {{"with the copy", nullptr, 1}, {"the copy refused", RefuseTheCopy, 0}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const SaverState saved = saverState;
    saverState.instance = GetModuleHandleA(nullptr);
    saverState.lastPasswordCheck = 0xFFFFFFFFu;
    saverState.wakeThreshold = 4;
    const DriftPieces pieces = {LoadInMemory, CountDepth, k.captureCopy};
    SetDriftPieces(&pieces);
    presentedDepths[0] = presentedDepths[1] = otherDepths = 0;
    CheckBlockLedger();
    SetTimer(nullptr, 0, 50, PressAfterFrames);
    const UINT_PTR giveUp = SetTimer(nullptr, 0, 15000, GiveUp);

    EXPECT_EQ(RunSaverWindow(nullptr), 0);
    KillTimer(nullptr, giveUp);
    EXPECT_GT(presentedDepths[k.shownDepth], 2) << "the whole screen and some frames";
    EXPECT_EQ(presentedDepths[1 - k.shownDepth], 0);
    EXPECT_EQ(otherDepths, 0);
    EXPECT_EQ(CheckBlockLedger(), 0);
    SetDriftPieces(nullptr);
    UnregisterClassA("WindowsScreenSaverClass", saverState.instance);
    saverState = saved;
  }
}

// A worker is stopped at every point of its life, from before its first look
// at the stop bit to deep in its wait between two frames (here the failure
// screen's), and every stop gives back its thread and its wake event: a
// saver is started and closed many times in a session's life.
TEST(WorkerStop, EveryStopEndsTheWorkerAndGivesBackItsHandles) {
  HWND window = CreateWindowExA(0, "STATIC", "worker", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const DriftPieces pieces = {FailToLoad, Present, nullptr};
  SetDriftPieces(&pieces);
  for (DWORD wait : {0u, 1u, 20u, 75u, 0u, 130u}) {
    SCOPED_TRACE(wait);
    DriftWorker record = {};
    ASSERT_NE(StartDriftWorker(&record, window), nullptr);
    const HANDLE thread = record.thread, wake = record.wake;
    ASSERT_NE(wake, nullptr);
    Sleep(wait);
    StopDriftWorker(&record);
    EXPECT_EQ(record.thread, nullptr);
    EXPECT_EQ(record.wake, nullptr);
    DWORD flags = 0;
    EXPECT_FALSE(GetHandleInformation(thread, &flags)) << "the thread's handle is still open";
    EXPECT_FALSE(GetHandleInformation(wake, &flags)) << "the wake event is still open";
  }
  SetDriftPieces(nullptr);
  DestroyWindow(window);
}

}  // namespace

namespace {

// Holds the worker in its preparation until it is told to stop, as a busy
// machine would, and notes the priority the stop left it at.
const DriftWorker* heldWorker;
volatile LONG workerHeld;
int priorityAtStop;
int32_t LoadUntilStopped(ShadeMap*, uint8_t*, const ShadeMapFile*) {
  InterlockedExchange(&workerHeld, 1);
  while (!(heldWorker->stop & 1)) Sleep(1);
  priorityAtStop = GetThreadPriority(GetCurrentThread());
  return -1;
}

// The worker prepares and draws below normal priority, and a stop raises it
// to normal before it asks the worker to end, so that the close never waits
// for the system to get round to a starved thread.
TEST(WorkerStop, AStopRaisesAWorkerStillPreparingToNormalPriority) {
  HWND window = CreateWindowExA(0, "STATIC", "worker", WS_POPUP, 0, 0, 64, 64, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const DriftPieces pieces = {LoadUntilStopped, Present, nullptr};
  SetDriftPieces(&pieces);
  DriftWorker record = {};
  ASSERT_EQ(CaptureScreen(&record.snapshot), 0);  // something to prepare
  heldWorker = &record;
  workerHeld = 0;
  priorityAtStop = -99;
  ASSERT_NE(StartDriftWorker(&record, window), nullptr);
  for (int i = 0; i < 500 && !workerHeld; ++i) Sleep(10);
  ASSERT_TRUE(workerHeld) << "the worker never got to its map";
  EXPECT_EQ(GetThreadPriority(record.thread), THREAD_PRIORITY_BELOW_NORMAL);
  StopDriftWorker(&record);
  EXPECT_EQ(priorityAtStop, THREAD_PRIORITY_NORMAL);
  SetDriftPieces(nullptr);
  DestroyWindow(window);
}

}  // namespace

namespace {

volatile LONG grownPresents;
void CountGrownPresents(const FrameBuffer* frame, HDC dc, Rect rect) {
  Present(frame, dc, rect);
  if (rect == Rect{0, 0, frame->header.biWidth, -frame->header.biHeight}) InterlockedIncrement(&grownPresents);
}

bool AwaitGrownPresentsAbove(LONG count) {
  for (int i = 0; i < 500 && grownPresents <= count; ++i) Sleep(10);
  return grownPresents > count;
}

// A display change that the 9x password lock outlived leaves the window over
// a larger screen than its picture: what was drawn beyond the picture gives
// way to black at the next repaint.
TEST(WorkerRepaint, BeyondThePictureAGrownWindowIsBlack) {
  WNDCLASSA plain = {};
  plain.lpfnWndProc = DefWindowProcA;
  plain.lpszClassName = "GrownSaver";
  RegisterClassA(&plain);
  HWND window = CreateWindowExA(WS_EX_TOPMOST, "GrownSaver", "grown", WS_POPUP | WS_VISIBLE, 0, 0, 128, 96, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const DriftPieces pieces = {LoadInMemory, CountGrownPresents, nullptr};
  SetDriftPieces(&pieces);
  DriftWorker record = {};
  ASSERT_EQ(CreateFrameBuffer(&record.snapshot, 128, 96), 0);  // the picture: black, the window's size
  grownPresents = 0;
  ASSERT_NE(StartDriftWorker(&record, window), nullptr);
  EXPECT_TRUE(AwaitGrownPresentsAbove(0)) << "the worker never put its picture up";

  SetWindowPos(window, nullptr, 0, 0, 192, 144, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  HDC dc = GetDC(window);
  PatBlt(dc, 0, 0, 192, 144, WHITENESS);
  const LONG before = grownPresents;
  InterlockedExchange(&record.repaint, 1);
  EXPECT_TRUE(AwaitGrownPresentsAbove(before)) << "no repaint";
  for (POINT p : {POINT{150, 10}, POINT{10, 120}, POINT{180, 140}})
    EXPECT_EQ(GetPixel(dc, p.x, p.y) & 0xFFFFFF, 0u) << p.x << "," << p.y;
  ReleaseDC(window, dc);

  StopDriftWorker(&record);
  SetDriftPieces(nullptr);
  DestroyWindow(window);
  UnregisterClassA("GrownSaver", nullptr);
}

}  // namespace
