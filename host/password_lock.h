// The saver password of the 9x family: the system's verifier must consent
// before a full-screen saver closes, and /a opens the system's change dialog.
// Nothing here acts on the NT family.
#pragma once
#include <windows.h>

// Sent to the saver window to run the verifier inside its own message handling.
constexpr UINT VerifyPasswordMessage = 0x8000;

// Loads the verifier when saver passwords are on and tells the system a saver
// runs; called before the full-screen window is made.
void HookPasswordLibrary();
// Frees the verifier and tells the system the saver no longer runs.
void UnhookPasswordLibrary();
// Non-zero when the window may close; asks the verifier at most once per 200 ms.
BOOL VerifyBeforeClose(HWND window);
// Opens the system's dialog for changing the saver password, owned by owner.
void ChangePassword(HWND owner);
