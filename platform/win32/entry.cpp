// The stub's entry point: no start-up code of the toolchain, only the command tail and WinMain.
#include "../../shell/command_tail.h"
#include "../platform.h"

extern "C" void WinMainCRTStartup()
{
    const char* tail = SkipProgramName(GetCommandLineA());
    ExitProcess(WinMain(GetModuleHandleA(0), 0, (LPSTR)tail, SW_SHOWDEFAULT));
}
