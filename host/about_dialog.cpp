#include "host/about_dialog.h"

#include "host/saver_state.h"
#include "resources/resource_ids.h"

namespace {

// The dialog's edit control wants CR LF line ends.
const char AboutText[] =
    "Glowmire Screensaver 1.0\r\n"
    "by the Glowmire developers\r\n"
    "Home page: http://www.glowmire.example/\r\n"
    "Last modified: Nov 12, 1997\r\n"
    "\r\n"
    "This screensaver runs only in high-color or true-color video modes, it does NOT work "
    "properly in a 256-color mode.\r\n"
    "\r\n"
    "Glowmire lightens and darkens your screen through a 256-color BMP picture. For each pixel "
    "of the picture, the red, green and blue of its palette color are averaged. Where that "
    "average is below medium gray (128), the screen pixel beneath it is darkened; where it is "
    "above medium gray, the screen pixel is lightened; at exactly medium gray it stays as it "
    "was. The further the average lies from medium gray, the stronger the change, all the way "
    "from total blackness (0) to total whiteness (255).\r\n"
    "\r\n"
    "The picture is the file GLMIRE.BMP, and it must be in the same directory as GLMIRE.SCR "
    "(the Windows directory or the Windows system directory). You can edit it with any paint "
    "program to get different patterns, as long as it keeps to these rules:\r\n"
    "\r\n"
    "1. The file name must be GLMIRE.BMP.\r\n"
    "2. It must be a 256-color BMP.\r\n"
    "3. Its width must be a multiple of 4.\r\n"
    "4. Its minimum size is 64x64.";

INT_PTR OnInitDialog(HWND dialog) {
  SetDlgItemTextA(dialog, IDC_ABOUT_TEXT, AboutText);
  return 1;
}

// Only OK ends the box; Escape's cancel command is left unanswered on purpose.
INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
  if (LOWORD(wParam) != IDOK) return 0;
  PostMessageA(dialog, WM_CLOSE, 0, 0);
  return 1;
}

INT_PTR OnClose(HWND dialog) {
  EndDialog(dialog, 0);
  return 1;
}

}  // namespace

int32_t ShowAboutDialog(HWND owner) {
  return static_cast<int32_t>(DialogBoxParamA(saverState.instance, MAKEINTRESOURCEA(IDD_ABOUT),
                                              owner, AboutDialogProc, 0));
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, wParam);
    case WM_CLOSE:
      return OnClose(dialog);
    default:
      return 0;
  }
}
