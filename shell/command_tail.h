// The command-line tail the stub hands to WinMain.
#pragma once

// Returns the part of a full command line after the program name and the blanks after it.
// A quoted name runs to the closing quote (a double-byte character is one character, so a
// trail byte is never taken for the quote), an unquoted one to the first code of 32 or less;
// then every code from 1 to 32 is skipped. Points into `commandLine`; possibly empty.
const char* SkipProgramName(const char* commandLine);
