#include "host/password_lock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/saver_state.h"
#include "tests/support/win_paths.h"
#include "tests/support/win_session.h"

namespace {

void SetRunning(int on) {
  UINT previous = 0;
  SystemParametersInfoA(SPI_SCREENSAVERRUNNING, static_cast<UINT>(on), &previous, 0);
}

std::string SystemFile(const char* name) {
  char path[MAX_PATH] = {};
  GetSystemDirectoryA(path, MAX_PATH);
  return std::string(path) + "\\" + name;
}

// The stand-ins are built beside the other test tools.
std::string Stub(const char* name) { return Folder(ProgramFolder()) + "\\tools\\" + name; }

std::string ReadFile(const std::string& path) {
  std::string text;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  CloseHandle(file);
  return text;
}

// Saver passwords on or off as the registry says, the verifier planted where a
// test wants it; everything is put back afterwards.
class PasswordHook : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = saverState;
    saverState.isWin9x = 1;
    SetRunning(0);
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kDesktopKey, &desktop), ERROR_SUCCESS);
    originalSize = sizeof original;
    hadValue = RegQueryValueExA(desktop, kUsePassword, nullptr, &originalType, original,
                                &originalSize) == ERROR_SUCCESS;
    // Wine has no verifier of its own: one found here is a stand-in that an
    // interrupted run left behind.
    systemVerifier = SystemFile("PASSWORD.CPL");
    DeleteFileA(systemVerifier.c_str());
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    log = std::string(temp) + "glmire-verifier-" + std::to_string(GetCurrentProcessId()) + ".log";
    DeleteFileA(log.c_str());
    SetEnvironmentVariableA("GLMIRE_STUB_LOG", log.c_str());
  }

  void TearDown() override {
    UnhookPasswordLibrary();
    // A faulty hook may hold extra references; a loaded file cannot be deleted.
    for (int i = 0; i < 8 && VerifierStillLoaded(); ++i) {
      FreeLibrary(GetModuleHandleA(systemVerifier.c_str()));
    }
    for (const std::string& file : planted) DeleteFileA(file.c_str());
    if (hadValue) {
      RegSetValueExA(desktop, kUsePassword, 0, originalType, original, originalSize);
    } else {
      RegDeleteValueA(desktop, kUsePassword);
    }
    RegCloseKey(desktop);
    SetEnvironmentVariableA("GLMIRE_STUB_LOG", nullptr);
    DeleteFileA(log.c_str());
    SetRunning(0);
    saverState = saved;
  }

  void SetValue(DWORD type, std::vector<BYTE> data) {
    ASSERT_EQ(RegSetValueExA(desktop, kUsePassword, 0, type, data.data(),
                             static_cast<DWORD>(data.size())),
              ERROR_SUCCESS);
  }

  void Plant(const char* stub, const std::string& where) {
    ASSERT_TRUE(CopyFileA(Stub(stub).c_str(), where.c_str(), FALSE)) << Stub(stub) << " -> " << where;
    planted.push_back(where);
  }

  bool VerifierStillLoaded() const { return GetModuleHandleA(systemVerifier.c_str()) != nullptr; }

  SaverState saved = {};
  HKEY desktop = nullptr;
  bool hadValue = false;
  DWORD originalType = 0;
  BYTE original[256] = {};
  DWORD originalSize = 0;
  std::string systemVerifier;
  std::string log;
  std::vector<std::string> planted;
};

TEST_F(PasswordHook, LoadsTheVerifierOnlyWhenPasswordsAreOnAndItIsThere) {
  enum Kind { None, Dword, Binary, String };
  struct Case {
    const char* name;
    Kind kind;
    std::vector<BYTE> data;
    const char* stub;  // planted as the system's PASSWORD.CPL
    int win9x;
    bool hooked;
  };
  const Case cases[] = {
      {"no value", None, {}, "verify_stub.dll", 1, false},
      {"number 0", Dword, {0, 0, 0, 0}, "verify_stub.dll", 1, false},
      {"number 1", Dword, {1, 0, 0, 0}, "verify_stub.dll", 1, true},
      {"number 0x01000000", Dword, {0, 0, 0, 1}, "verify_stub.dll", 1, true},
      {"binary 01 00 00 00", Binary, {1, 0, 0, 0}, "verify_stub.dll", 1, true},
      {"binary zeros", Binary, {0, 0, 0, 0}, "verify_stub.dll", 1, false},
      {"two bytes 00 01", Binary, {0, 1}, "verify_stub.dll", 1, true},
      {"text \"1\", type not looked at", String, {'1', 0}, "verify_stub.dll", 1, true},
      {"number 1, no verifier", Dword, {1, 0, 0, 0}, nullptr, 1, false},
      {"number 1, library without the entry", Dword, {1, 0, 0, 0}, "change_stub.dll", 1, false},
      {"NT family, number 1", Dword, {1, 0, 0, 0}, "verify_stub.dll", 0, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    RegDeleteValueA(desktop, kUsePassword);
    if (k.kind != None) {
      SetValue(k.kind == Dword ? REG_DWORD : k.kind == Binary ? REG_BINARY : REG_SZ, k.data);
    }
    DeleteFileA(systemVerifier.c_str());
    if (k.stub != nullptr) Plant(k.stub, systemVerifier);
    saverState.isWin9x = k.win9x;

    HookPasswordLibrary();
    EXPECT_EQ(saverState.passwordLibrary != nullptr, k.hooked);
    EXPECT_EQ(saverState.verifyPassword != nullptr, k.hooked);
    EXPECT_EQ(SaverRunning(), k.hooked ? 1 : 0);
    EXPECT_EQ(VerifierStillLoaded(), k.hooked);

    UnhookPasswordLibrary();
    EXPECT_EQ(saverState.passwordLibrary, nullptr);
    EXPECT_EQ(saverState.verifyPassword, nullptr);
    EXPECT_EQ(SaverRunning(), 0);
    EXPECT_FALSE(VerifierStillLoaded());
  }
}

TEST_F(PasswordHook, OnlyTheSystemsVerifierIsEverLoaded) {
  SetValue(REG_DWORD, {1, 0, 0, 0});
  char previousFolder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previousFolder);
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  ASSERT_TRUE(SetCurrentDirectoryA(temp));
  Plant("verify_stub.dll", ProgramFolder() + "\\PASSWORD.CPL");
  Plant("verify_stub.dll", std::string(temp) + "PASSWORD.CPL");

  HookPasswordLibrary();
  EXPECT_EQ(saverState.passwordLibrary, nullptr);
  EXPECT_EQ(SaverRunning(), 0);
  EXPECT_EQ(ReadFile(log), "");

  Plant("verify_stub.dll", systemVerifier);
  HookPasswordLibrary();
  UnhookPasswordLibrary();
  SetCurrentDirectoryA(previousFolder);
  std::string attached = ReadFile(log);
  std::string expected = "attach " + systemVerifier + "\n";
  CharLowerA(&attached[0]);
  CharLowerA(&expected[0]);
  EXPECT_EQ(attached.substr(0, expected.size()), expected);
}

TEST_F(PasswordHook, HookingAgainLetsGoOfTheFirstLoad) {
  SetValue(REG_DWORD, {1, 0, 0, 0});
  Plant("verify_stub.dll", systemVerifier);
  HookPasswordLibrary();
  HookPasswordLibrary();
  EXPECT_EQ(SaverRunning(), 1);
  UnhookPasswordLibrary();
  EXPECT_FALSE(VerifierStillLoaded());
  EXPECT_EQ(SaverRunning(), 0);
}

// A stand-in saver window: it answers the verifier message as told and notes
// what the lock looked like while it was asked.
struct Verifier {
  LRESULT answer;
  DWORD busyFor;        // how long the "dialog" stays up
  bool closeMeanwhile;  // a close request arrives while it is up
  int asked;
  int32_t checkingSeen;
  BOOL closeMeanwhileAnswer;
} verifier;

LRESULT CALLBACK VerifierWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != VerifyPasswordMessage) return DefWindowProcA(window, message, wParam, lParam);
  ++verifier.asked;
  verifier.checkingSeen = saverState.isCheckingPassword;
  if (verifier.closeMeanwhile) verifier.closeMeanwhileAnswer = VerifyBeforeClose(window);
  if (verifier.busyFor > 0) Sleep(verifier.busyFor);
  return verifier.answer;
}

BOOL WINAPI NeverCalled(HWND) { return FALSE; }

class CloseCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = saverState;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = VerifierWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "GlmireVerifierTest";
    RegisterClassA(&windowClass);
    window = CreateWindowExA(0, "GlmireVerifierTest", "verifier", WS_POPUP, 0, 0, 10, 10, nullptr,
                             nullptr, windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Reset(1);
  }
  void TearDown() override {
    DestroyWindow(window);
    saverState = saved;
  }
  // A lock with the verifier loaded that never asked, and a window that answers `answer`.
  void Reset(LRESULT answer) {
    saverState.verifyPassword = NeverCalled;
    saverState.isClosing = 0;
    saverState.isCheckingPassword = 0;
    saverState.lastPasswordCheck = 0xFFFFFFFFu;
    verifier = {answer, 0, false, 0, -1, -1};
  }
  int PendingTimerTicks() {
    MSG message;
    int count = 0;
    while (PeekMessageA(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE)) ++count;
    return count;
  }
  SaverState saved = {};
  HWND window = nullptr;
};

TEST_F(CloseCheck, AsksTheVerifierAtMostOncePer200Milliseconds) {
  const uint32_t never = 0xFFFFFFFFu;
  struct Case {
    const char* name;
    bool loaded;
    int32_t closing, checking;
    uint32_t lastCheckAgo;  // never: no check yet
    LRESULT answer;
    BOOL result;
    int asked;
    int32_t closingAfter;
    bool cursorHidden;
  };
  const Case cases[] = {
      {"passwords off", false, 0, 0, never, 0, TRUE, 0, 1, false},
      {"already closing", true, 1, 0, never, 1, FALSE, 0, 1, false},
      {"verifier already up", true, 0, 1, never, 1, FALSE, 0, 0, false},
      {"first request, refused", true, 0, 0, never, 0, FALSE, 1, 0, true},
      {"first request, accepted", true, 0, 0, never, 1, TRUE, 1, 1, false},
      {"any non-zero answer accepts", true, 0, 0, never, 7, TRUE, 1, 1, false},
      {"100 ms after a refusal", true, 0, 0, 100, 1, FALSE, 0, 0, false},
      {"300 ms after a refusal", true, 0, 0, 300, 1, TRUE, 1, 1, false},
  };
  HCURSOR arrow = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Reset(k.answer);
    if (!k.loaded) saverState.verifyPassword = nullptr;
    saverState.isClosing = k.closing;
    saverState.isCheckingPassword = k.checking;
    const uint32_t before = GetTickCount();
    saverState.lastPasswordCheck = k.lastCheckAgo == never ? never : before - k.lastCheckAgo;
    SetCursor(arrow);

    EXPECT_EQ(VerifyBeforeClose(window), k.result);
    EXPECT_EQ(verifier.asked, k.asked);
    EXPECT_EQ(saverState.isClosing, k.closingAfter);
    EXPECT_EQ(GetCursor() == nullptr, k.cursorHidden);
    if (k.asked) {
      EXPECT_EQ(verifier.checkingSeen, 1);
      EXPECT_EQ(saverState.isCheckingPassword, 0);
      EXPECT_LT(saverState.lastPasswordCheck - before, 1000u);
    } else {
      EXPECT_EQ(saverState.isCheckingPassword, k.checking);
    }
  }
}

TEST_F(CloseCheck, SpacingCountsFromTheVerifiersReturn) {
  Reset(0);
  verifier.busyFor = 300;  // the user takes a while to type a wrong password
  EXPECT_FALSE(VerifyBeforeClose(window));
  verifier.busyFor = 0;
  EXPECT_FALSE(VerifyBeforeClose(window));
  EXPECT_EQ(verifier.asked, 1);
  saverState.lastPasswordCheck -= 250;
  verifier.answer = 1;
  EXPECT_TRUE(VerifyBeforeClose(window));
  EXPECT_EQ(verifier.asked, 2);
  // Closing was allowed: nothing asks any more.
  EXPECT_FALSE(VerifyBeforeClose(window));
  EXPECT_EQ(verifier.asked, 2);
}

TEST_F(CloseCheck, CloseRequestsWhileTheVerifierIsUpAreRefused) {
  Reset(1);
  verifier.closeMeanwhile = true;
  EXPECT_TRUE(VerifyBeforeClose(window));
  EXPECT_EQ(verifier.closeMeanwhileAnswer, FALSE);
  EXPECT_EQ(verifier.asked, 1);
}

TEST_F(CloseCheck, DropsTwoPendingTimerTicksBeforeAsking) {
  Reset(0);
  for (WPARAM id = 1; id <= 3; ++id) PostMessageA(window, WM_TIMER, id, 0);
  PostMessageA(window, WM_USER, 0, 0);
  EXPECT_FALSE(VerifyBeforeClose(window));
  EXPECT_EQ(PendingTimerTicks(), 1);
  MSG message;
  EXPECT_TRUE(PeekMessageA(&message, window, WM_USER, WM_USER, PM_REMOVE));
}

}  // namespace
