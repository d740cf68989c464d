// Stand-ins for the modes whose windows do not exist yet: each ends at once.
#include "host/about_dialog.h"
#include "host/password_lock.h"
#include "host/saver_window.h"

int32_t RunSaverWindow(HWND) { return 0; }
int32_t ShowAboutDialog(HWND) { return 0; }
void ChangePassword(HWND) {}
