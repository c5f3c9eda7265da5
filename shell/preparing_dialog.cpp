// The preparing dialog's procedure.
#include "preparing_dialog.h"

#include "../resources/resource.h"
#include "bootstrap.h"

static void CenterOnDesktop(HWND window)
{
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(window, &own);
    // Signed: a window wider than the desktop goes to a negative place, halved toward zero.
    int x = ((desktop.right - desktop.left) - (own.right - own.left)) / 2;
    int y = ((desktop.bottom - desktop.top) - (own.bottom - own.top)) / 2;
    SetWindowPos(window, 0, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

static void UseNormalWeightFont(HWND window)
{
    LOGFONTA font;
    HFONT dialogFont = (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
    if (GetObjectA(dialogFont, sizeof font, &font) != sizeof font) return;
    font.lfWeight = FW_NORMAL;
    bootstrap.dialogFont = CreateFontIndirectA(&font);
    SendMessageA(window, WM_SETFONT, (WPARAM)bootstrap.dialogFont, 1);
    SendDlgItemMessageA(window, IDC_PREPARING_TEXT, WM_SETFONT, (WPARAM)bootstrap.dialogFont, 1);
}

INT_PTR CALLBACK PreparingDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) {
        CenterOnDesktop(window);
        if (!bootstrap.dialogFont) UseNormalWeightFont(window);  // once, however often called
        return 1;
    }
    if (message == WM_CTLCOLORDLG) {
        HDC dc = (HDC)wParam;
        SetBkMode(dc, TRANSPARENT);
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return (INT_PTR)bootstrap.backgroundBrush;
    }
    return 0;
}
