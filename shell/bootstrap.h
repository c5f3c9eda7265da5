// The values of one run and the error report through which every stage reports failure.
#pragma once

#include "../platform/platform.h"

constexpr int kErrorTextSize = 1024;
constexpr int kPathSize = 256;

// All zero when the process starts; one object, `bootstrap`, for the whole process.
struct BootstrapState {
    HINSTANCE instance;
    HWND dialog;
    HBRUSH backgroundBrush;
    HFONT dialogFont;                    // made by the dialog's initialisation, deleted by WinMain
    int32_t failed;                      // 1 once any failure has been reported
    char errorText[kErrorTextSize];      // messages separated by CR LF
    char shortPackagePath[kPathSize];    // written by OpenPackage
    const char* commandTail;             // as handed to WinMain; not copied
    char tempSetupPath[kPathSize];       // written by CreateTempSetupFile
};

extern BootstrapState bootstrap;

// Marks the run failed and adds the message on a line of its own. A message that does not
// fit is cut at a character boundary; the report is never written past its buffer.
void AppendError(const char* message);

// Appends text to the NUL-terminated contents of a buffer of `size` bytes, keeping what fits
// without splitting a double-byte character. Returns 1 if all of it fit, 0 if it was cut.
int AppendText(char* buffer, int size, const char* text);

// The same into an emptied buffer.
int CopyText(char* buffer, int size, const char* text);
