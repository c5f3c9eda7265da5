// The preparing window shown during the extraction.
#pragma once

#include "../platform/platform.h"

// The dialog procedure of template 102: centres the window on the desktop, gives it and its
// text a normal-weight copy of its font, and paints its background in the face colour.
INT_PTR CALLBACK PreparingDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
