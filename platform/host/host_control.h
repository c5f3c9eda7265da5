// How tests and host tools script the host layer: what each platform call answers, which
// stream call fails, and the record of every call made.
#pragma once

#include <string>
#include <vector>

#include "host_api.h"

struct HostConfig {
    std::string moduleFileName = "C:\\Setup.exe";  // what GetModuleFileNameA(instance) gives
    bool shortPathFails = false;
    std::string shortPath;                   // empty: the long path is already short
    bool tempPathFails = false;
    std::string tempPath = "C:\\TEMP\\";
    UINT winExecResult = 33;                 // 32 or more: started
    int moduleProbes = 0;                    // how many probes of the started module succeed
    int pendingMessages = 0;                 // messages waiting in the queue at each pump
    RECT desktop = {0, 0, 800, 600};
    RECT dialogRect = {0, 0, 247, 56};
    LONG dialogFontWeight = 700;
    std::string leadBytes;                   // the code page's double-byte lead bytes
    bool dialogFails = false;
    bool brushFails = false;
    bool fontFails = false;
    bool hasSetDefaultDllDirectories = true;
    DWORD tickStep = 0;                      // 0: GetTickCount reads the clock; else each call adds this
};

// Stream operations the host layer can make fail; each is counted from 1 after HostReset.
enum HostStreamOp { kHostOpen, kHostRead, kHostWrite, kHostClose, kHostRemove, kHostSeek, kHostOpCount };

HostConfig& Host();
void HostReset();                            // default answers, empty record, no faults
const std::vector<std::string>& HostCalls(); // "Name arguments", one entry per call
void HostRecord(const std::string& call);
void HostFailStreamCall(HostStreamOp op, int nth);  // the nth call of op fails; 0: none
int HostStreamCalls(HostStreamOp op);        // how many calls of op were made so far
bool HostShouldFail(HostStreamOp op);        // counts one call of op; true if it is to fail
std::string HostNativePath(const char* path);// a Windows-style path as this machine spells it
const char* HostMessageBoxText();            // text of the last MessageBoxA, or null
HINSTANCE HostInstance();                    // the handle the platform gives WinMain
