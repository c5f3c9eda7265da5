// Choosing and creating the temporary setup file _setupN.exe.
#pragma once

#include <stdio.h>

constexpr int kTempNameCount = 400;

// Creates the first free _setup0.exe ... _setup399.exe in the temporary directory, never
// opening an existing file. Returns the stream with `tempSetupPath` holding the full path, or
// null after reporting why. The caller closes it.
FILE* CreateTempSetupFile();
