// The saver password of the 9x family.
#pragma once
#include <windows.h>

// Opens the system's dialog for changing the saver password, owned by owner.
void ChangePassword(HWND owner);
