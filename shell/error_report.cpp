// The bootstrap state and the error report.
#include "bootstrap.h"

BootstrapState bootstrap;

int AppendText(char* buffer, int size, const char* text)
{
    int end = lstrlenA(buffer);
    for (;;) {
        if (*text == 0) break;
        int length = IsDBCSLeadByte((BYTE)*text) && text[1] ? 2 : 1;
        if (end + length >= size) { buffer[end] = 0; return 0; }
        buffer[end++] = *text++;
        if (length == 2) buffer[end++] = *text++;
    }
    buffer[end] = 0;
    return 1;
}

int CopyText(char* buffer, int size, const char* text)
{
    buffer[0] = 0;
    return AppendText(buffer, size, text);
}

void AppendError(const char* message)
{
    bootstrap.failed = 1;
    int before = lstrlenA(bootstrap.errorText);
    if (before) AppendText(bootstrap.errorText, kErrorTextSize, "\r\n");
    AppendText(bootstrap.errorText, kErrorTextSize, message);
    // A full report gets no separator that nothing follows.
    if (before && lstrlenA(bootstrap.errorText) == before + 2) bootstrap.errorText[before] = 0;
}
