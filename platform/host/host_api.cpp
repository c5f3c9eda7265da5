// The host layer: the platform calls of host_api.h, answered from HostConfig and recorded.
#include "host_control.h"

#include <stdarg.h>
#include <string.h>
#include <time.h>

#include <string>

namespace {

HostConfig config;
std::vector<std::string> calls;
int streamCalls[kHostOpCount];
int failingCall[kHostOpCount];
std::string lastMessageBox;
bool messageBoxShown = false;

// Opaque handles: distinct addresses that nothing dereferences.
char instanceTag, desktopTag, dialogTag, brushTag, dialogFontTag, createdFontTag;
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(&instanceTag);
HWND const kDesktop = reinterpret_cast<HWND>(&desktopTag);
HWND const kDialog = reinterpret_cast<HWND>(&dialogTag);
HBRUSH const kBrush = reinterpret_cast<HBRUSH>(&brushTag);
HFONT const kDialogFont = reinterpret_cast<HFONT>(&dialogFontTag);
HFONT const kCreatedFont = reinterpret_cast<HFONT>(&createdFontTag);

DLGPROC dialogProc;
RECT dialogRect;
int probesLeft;
LONG createdFontWeight;

std::string HandleName(const void* handle)
{
    if (!handle) return "null";
    if (handle == kInstance) return "instance";
    if (handle == kDesktop) return "desktop";
    if (handle == kDialog) return "dialog";
    if (handle == kBrush) return "brush";
    if (handle == kDialogFont) return "dialogFont";
    if (handle == kCreatedFont) return "font";
    return "handle";
}

DWORD CopyOut(const std::string& text, LPSTR buffer, DWORD size)
{
    if (text.size() + 1 > size) return static_cast<DWORD>(text.size() + 1);
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

}  // namespace

HostConfig& Host() { return config; }

void HostReset()
{
    config = HostConfig();
    calls.clear();
    for (int op = 0; op < kHostOpCount; op++) streamCalls[op] = failingCall[op] = 0;
    lastMessageBox.clear();
    messageBoxShown = false;
    dialogProc = nullptr;
    createdFontWeight = 0;
}

const std::vector<std::string>& HostCalls() { return calls; }
void HostRecord(const std::string& call) { calls.push_back(call); }
void HostFailStreamCall(HostStreamOp op, int nth) { failingCall[op] = nth; }
int HostStreamCalls(HostStreamOp op) { return streamCalls[op]; }

bool HostShouldFail(HostStreamOp op)
{
    streamCalls[op]++;
    return failingCall[op] != 0 && streamCalls[op] == failingCall[op];
}

std::string HostNativePath(const char* path)
{
    std::string native(path);
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

HINSTANCE HostInstance() { return kInstance; }

const char* HostMessageBoxText() { return messageBoxShown ? lastMessageBox.c_str() : nullptr; }

// Kernel

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size)
{
    if (!module || module == kInstance) {
        calls.push_back("GetModuleFileNameA instance");
        // Like the platform: truncate to fit, always terminated, result the count copied.
        if (size == 0) return 0;
        DWORD length = static_cast<DWORD>(config.moduleFileName.size());
        if (length >= size) length = size - 1;
        memcpy(fileName, config.moduleFileName.data(), length);
        fileName[length] = 0;
        return length < config.moduleFileName.size() ? size : length;
    }
    calls.push_back("GetModuleFileNameA started");
    if (probesLeft <= 0) return 0;
    probesLeft--;
    return CopyOut("C:\\TEMP\\_setup0.exe", fileName, size);
}

DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size)
{
    calls.push_back(std::string("GetShortPathNameA ") + longPath);
    if (config.shortPathFails) return 0;
    return CopyOut(config.shortPath.empty() ? std::string(longPath) : config.shortPath, shortPath, size);
}

DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer)
{
    calls.push_back("GetTempPathA");
    if (config.tempPathFails) return 0;
    return CopyOut(config.tempPath, buffer, size);
}

UINT WINAPI WinExec(LPCSTR commandLine, UINT showCode)
{
    calls.push_back("WinExec " + std::to_string(showCode) + " " + commandLine);
    probesLeft = config.moduleProbes;
    return config.winExecResult;
}

UINT WINAPI SetErrorMode(UINT mode)
{
    calls.push_back("SetErrorMode " + std::to_string(mode));
    return 0;
}

int WINAPI lstrlenA(LPCSTR text) { return text ? static_cast<int>(strlen(text)) : 0; }

BOOL WINAPI IsDBCSLeadByte(BYTE character)
{
    return character != 0 && config.leadBytes.find(static_cast<char>(character)) != std::string::npos;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName)
{
    calls.push_back(std::string("GetModuleHandleA ") + (moduleName ? moduleName : "null"));
    return kInstance;
}

static BOOL WINAPI HostSetDefaultDllDirectories(DWORD flags)
{
    calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE, LPCSTR name)
{
    calls.push_back(std::string("GetProcAddress ") + name);
    if (strcmp(name, "SetDefaultDllDirectories") == 0 && config.hasSetDefaultDllDirectories)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&HostSetDefaultDllDirectories));
    return nullptr;
}

DWORD WINAPI GetTickCount(void)
{
    static DWORD ticks;
    if (config.tickStep) return ticks += config.tickStep;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// User interface

HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC procedure, LPARAM initParam)
{
    calls.push_back("CreateDialogParamA " + HandleName(instance) + " " +
                    std::to_string(reinterpret_cast<uintptr_t>(templateName)) + " " +
                    HandleName(owner) + " " + std::to_string(initParam));
    if (config.dialogFails) return nullptr;
    dialogProc = procedure;
    dialogRect = config.dialogRect;
    procedure(kDialog, WM_INITDIALOG, 0, initParam);
    return kDialog;
}

static const char* ShowCodeName(int showCode)
{
    return showCode == SW_SHOW ? "SW_SHOW" : showCode == SW_HIDE ? "SW_HIDE" : "other";
}

BOOL WINAPI ShowWindow(HWND window, int showCode)
{
    calls.push_back("ShowWindow " + HandleName(window) + " " + ShowCodeName(showCode));
    return window != nullptr;
}

BOOL WINAPI DestroyWindow(HWND window)
{
    calls.push_back("DestroyWindow " + HandleName(window));
    return window != nullptr;
}

BOOL WINAPI RedrawWindow(HWND window, const RECT*, HANDLE, UINT flags)
{
    calls.push_back("RedrawWindow " + HandleName(window) + " " + std::to_string(flags));
    return window != nullptr;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    calls.push_back("MessageBoxA " + HandleName(owner) + " " + caption + " " + std::to_string(type));
    lastMessageBox = text;
    messageBoxShown = true;
    return 1;
}

HWND WINAPI GetDesktopWindow(void) { return kDesktop; }

BOOL WINAPI GetWindowRect(HWND window, RECT* rect)
{
    if (window == kDesktop) *rect = config.desktop;
    else if (window == kDialog) *rect = dialogRect;
    else return FALSE;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
{
    calls.push_back("SetWindowPos " + HandleName(window) + " " + HandleName(insertAfter) + " " +
                    std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(cx) + " " +
                    std::to_string(cy) + " " + std::to_string(flags));
    if (window == kDialog) {
        LONG width = dialogRect.right - dialogRect.left, height = dialogRect.bottom - dialogRect.top;
        dialogRect = {x, y, x + width, y + height};
    }
    return TRUE;
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_GETFONT) return reinterpret_cast<LRESULT>(kDialogFont);
    if (message == WM_SETFONT)
        calls.push_back("WM_SETFONT " + HandleName(window) + " " +
                        HandleName(reinterpret_cast<void*>(wParam)) + " " + std::to_string(lParam));
    return 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int item, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETFONT)
        calls.push_back("WM_SETFONT " + HandleName(dialog) + "/" + std::to_string(item) + " " +
                        HandleName(reinterpret_cast<void*>(wParam)) + " " + std::to_string(lParam));
    return 0;
}

DWORD WINAPI GetSysColor(int index) { return index == COLOR_BTNFACE ? 0x00C8D0D4 : 0; }

BOOL WINAPI PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT remove)
{
    calls.push_back("PeekMessageA " + HandleName(window) + " " + std::to_string(first) + " " +
                    std::to_string(last) + " " + std::to_string(remove));
    if (config.pendingMessages <= 0) return FALSE;
    config.pendingMessages--;
    *message = MSG();
    message->message = 0x000F;  // WM_PAINT
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    calls.push_back("TranslateMessage");
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG*)
{
    calls.push_back("DispatchMessageA");
    return 0;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...)
{
    // The platform's formatter writes at most 1,024 bytes, its NUL included.
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(buffer, 1024, format, arguments);
    va_end(arguments);
    return length < 1024 ? length : 1023;
}

// Graphics

HBRUSH WINAPI CreateSolidBrush(COLORREF color)
{
    calls.push_back("CreateSolidBrush " + std::to_string(color));
    return config.brushFails ? nullptr : kBrush;
}

BOOL WINAPI DeleteObject(HGDIOBJ object)
{
    calls.push_back("DeleteObject " + HandleName(object));
    return object != nullptr;
}

int WINAPI GetObjectA(HGDIOBJ object, int size, void* buffer)
{
    if (object != kDialogFont || size != static_cast<int>(sizeof(LOGFONTA))) return 0;
    LOGFONTA font = LOGFONTA();
    font.lfHeight = -11;
    font.lfWeight = config.dialogFontWeight;
    strcpy(font.lfFaceName, "MS Sans Serif");
    memcpy(buffer, &font, sizeof font);
    return size;
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font)
{
    calls.push_back("CreateFontIndirectA " + std::string(font->lfFaceName) + " " +
                    std::to_string(font->lfHeight) + " " + std::to_string(font->lfWeight));
    createdFontWeight = font->lfWeight;
    return config.fontFails ? nullptr : kCreatedFont;
}

int WINAPI SetBkMode(HDC, int mode)
{
    calls.push_back("SetBkMode " + std::to_string(mode));
    return 1;
}

COLORREF WINAPI SetBkColor(HDC, COLORREF color)
{
    calls.push_back("SetBkColor " + std::to_string(color));
    return 0;
}
