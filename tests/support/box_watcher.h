// The block ledger's message box, watched for from a second thread: what it
// says, how often it came, and dismissed, so a test that unbalances the ledger
// fails instead of waiting on a box nobody clicks.
#pragma once
#include <windows.h>

#include <string>

// Watches for the ledger's message box from a second thread while the test
// thread sits in it, reads what it says and dismisses it. A box that never
// comes is simply not seen; one that will not go is closed again and again.
class BoxWatcher {
 public:
  BoxWatcher() {
    stop_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  ~BoxWatcher() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(stop_);
  }
  // A window of the checking thread: a task-modal box disables it while it shows.
  void watchOwner(HWND window) { owner_ = window; }
  bool ownerDisabled() const { return ownerDisabled_; }
  int boxes() const { return boxes_; }
  const std::string& text() const { return text_; }

 private:
  static BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    char name[32] = {}, text[256] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0)
      reinterpret_cast<BoxWatcher*>(param)->text_ += text;
    return TRUE;
  }
  static DWORD WINAPI Run(void* self) {
    auto* w = static_cast<BoxWatcher*>(self);
    HWND last = nullptr;
    while (WaitForSingleObject(w->stop_, 10) == WAIT_TIMEOUT) {
      HWND box = FindWindowA(nullptr, "Programmer Error");
      if (!box) {
        last = nullptr;
        continue;
      }
      if (box != last) {
        ++w->boxes_;
        w->text_.clear();
        EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(w));
        w->ownerDisabled_ = w->owner_ && !IsWindowEnabled(w->owner_);
        last = box;
      }
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    return 0;
  }
  HANDLE stop_;
  HANDLE thread_;
  volatile int boxes_ = 0;
  HWND owner_ = nullptr;
  volatile bool ownerDisabled_ = false;
  std::string text_;
};
