// The command-line tail rule of the platform's start-up code, which the stub does without.
#include "command_tail.h"

#include "../platform/platform.h"

static const char* SkipQuotedName(const char* text)
{
    text++;  // the opening quote
    while (*text && *text != '"') {
        if (IsDBCSLeadByte((BYTE)*text) && text[1]) text++;
        text++;
    }
    return *text ? text + 1 : text;
}

const char* SkipProgramName(const char* commandLine)
{
    const unsigned char* text = (const unsigned char*)commandLine;
    if (*text == '"') {
        text = (const unsigned char*)SkipQuotedName(commandLine);
    } else {
        while (*text > 32) text++;
    }
    while (*text >= 1 && *text <= 32) text++;
    return (const char*)text;
}
