// The hand-over: start the secondary setup and wait while the platform reports it.
#pragma once

constexpr int kCommandSize = 384;

// Builds "<temp path> <package path> <tail>" into a buffer of `size` bytes; a path holding
// a blank is put in double quotes. Returns 0, leaving the buffer empty, when it does not fit.
int BuildCommandLine(char* buffer, int size, const char* tempPath, const char* packagePath,
                     const char* tail);

// The second stage of the run. On a failed start the temporary setup file is removed.
int LaunchSecondarySetup();

// Removes and dispatches every message waiting in the thread's queue; never blocks.
void PumpMessages();
