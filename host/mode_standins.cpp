// Stand-ins for the about box and the password lock until they exist.
#include "host/about_dialog.h"
#include "host/password_lock.h"

int32_t ShowAboutDialog(HWND) { return 0; }
void ChangePassword(HWND) {}
void HookPasswordLibrary() {}
void UnhookPasswordLibrary() {}
BOOL VerifyBeforeClose(HWND) { return TRUE; }
