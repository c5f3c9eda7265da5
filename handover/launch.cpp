// Launch of the secondary setup, the wait, and the message pump.
#include "launch.h"

#include "../shell/bootstrap.h"

// Holds the command line, then the probe's module name, then the error code's text.
static char command[kCommandSize];

static int HasBlank(const char* text)
{
    for (; *text; text++)
        if (*text == ' ') return 1;
    return 0;
}

// Unquoted, a path with blanks lets the platform try C:\Documents.exe and the like first.
static int AppendPath(char* buffer, int size, const char* path)
{
    if (!HasBlank(path)) return AppendText(buffer, size, path);
    return AppendText(buffer, size, "\"") && AppendText(buffer, size, path) &&
           AppendText(buffer, size, "\"");
}

int BuildCommandLine(char* buffer, int size, const char* tempPath, const char* packagePath,
                     const char* tail)
{
    buffer[0] = 0;
    int fits = AppendPath(buffer, size, tempPath) && AppendText(buffer, size, " ") &&
               AppendPath(buffer, size, packagePath) && AppendText(buffer, size, " ") &&
               AppendText(buffer, size, tail);
    if (!fits) buffer[0] = 0;
    return fits;
}

// Without its short form the package is named by its full path, never by nothing, so that
// the secondary setup cannot take the tail for the package.
static const char* PackagePathForCommand(char* fullPath)
{
    if (bootstrap.shortPackagePath[0]) return bootstrap.shortPackagePath;
    GetModuleFileNameA(bootstrap.instance, fullPath, kPathSize);
    fullPath[kPathSize - 1] = 0;
    return fullPath;
}

// The report's lines after the first; `errorCode` may be null. The setup file nothing will
// run is removed.
static int ReportFailedStart(const char* detail, const char* errorCode)
{
    AppendError("Cannot load secondary setup.");
    AppendError(detail);
    if (errorCode) AppendError(errorCode);
    remove(bootstrap.tempSetupPath);
    return 0;
}

int LaunchSecondarySetup()
{
    char fullPath[kPathSize];
    const char* packagePath = PackagePathForCommand(fullPath);
    if (!BuildCommandLine(command, sizeof command, bootstrap.tempSetupPath, packagePath,
                          bootstrap.commandTail))
        return ReportFailedStart("The command line is longer than 383 characters.", 0);

    UINT result = WinExec(command, SW_SHOW);
    if (result < 32) {
        char errorCode[32];
        wsprintfA(errorCode, "Error code = %d", (int)result);
        return ReportFailedStart(command, errorCode);
    }
    ShowWindow(bootstrap.dialog, SW_HIDE);
    while (GetModuleFileNameA((HMODULE)(UINT_PTR)result, command, sizeof command) != 0)
        PumpMessages();
    return 1;
}
