// WinMain: the run sequence of the bootstrapper.
#include "../handover/launch.h"
#include "../package/extract.h"
#include "../resources/resource.h"
#include "bootstrap.h"
#include "preparing_dialog.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesCall)(DWORD flags);

// DLLs planted beside a downloaded package are never loaded: where the platform offers it,
// only the system directory is searched. Looked up at run time, so older systems still start.
static void RestrictDllSearch()
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    FARPROC address = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : 0;
    if (address) ((SetDefaultDllDirectoriesCall)(void*)address)(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

static void ShowPreparingDialog()
{
    bootstrap.dialog = CreateDialogParamA(bootstrap.instance, MAKEINTRESOURCEA(IDD_PREPARING), 0,
                                          PreparingDlgProc, 0);
    ShowWindow(bootstrap.dialog, SW_SHOW);
    // Nothing is dispatched until the extraction's first pump: paint the window and its
    // controls now, so the user never sees an empty frame.
    RedrawWindow(bootstrap.dialog, 0, 0, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

static void RunStages()
{
    if (!ExtractSecondarySetup()) {
        bootstrap.failed = 1;
        return;
    }
    bootstrap.failed = LaunchSecondarySetup() ? 0 : 1;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int)
{
    RestrictDllSearch();
    bootstrap.instance = instance;
    bootstrap.backgroundBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    ShowPreparingDialog();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    bootstrap.failed = 0;
    bootstrap.errorText[0] = 0;
    bootstrap.commandTail = commandTail;
    RunStages();
    DestroyWindow(bootstrap.dialog);
    if (bootstrap.failed) MessageBoxA(0, bootstrap.errorText, "Setup", MB_ICONERROR);
    DeleteObject(bootstrap.backgroundBrush);
    DeleteObject(bootstrap.dialogFont);
    return 0;
}
