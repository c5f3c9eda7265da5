// The Windows calls the portable code makes, declared for Linux with the platform's exact
// widths and documented behaviour. The definitions in host_api.cpp record every call and
// answer as host_control.h tells them to.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;   // long is 64 bits here; the platform's DWORD is 32
typedef int32_t LONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD COLORREF;

typedef struct HostHandle* HANDLE;
typedef struct HostInstance* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HostWindow* HWND;
typedef struct HostGdiObject* HGDIOBJ;
typedef HGDIOBJ HBRUSH;
typedef HGDIOBJ HFONT;
typedef struct HostDc* HDC;
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(WINAPI* FARPROC)();

typedef struct { LONG left, top, right, bottom; } RECT;
typedef struct { LONG x, y; } POINT;
typedef struct {
    HWND hwnd; UINT message; WPARAM wParam; LPARAM lParam; DWORD time; POINT pt;
} MSG;

#define LF_FACESIZE 32
typedef struct {
    LONG lfHeight, lfWidth, lfEscapement, lfOrientation, lfWeight;
    BYTE lfItalic, lfUnderline, lfStrikeOut, lfCharSet;
    BYTE lfOutPrecision, lfClipPrecision, lfQuality, lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA;

#define TRUE 1
#define FALSE 0
#define MAKEINTRESOURCEA(number) ((LPSTR)(uintptr_t)(WORD)(number))

#define SW_HIDE 0
#define SW_SHOW 5
#define COLOR_BTNFACE 15
#define MB_ICONERROR 0x10
#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000
#define WM_SETFONT 0x0030
#define WM_GETFONT 0x0031
#define WM_INITDIALOG 0x0110
#define WM_CTLCOLORDLG 0x0136
#define SWP_NOSIZE 0x0001
#define SWP_NOZORDER 0x0004
#define TRANSPARENT 1
#define FW_NORMAL 400
#define PM_REMOVE 0x0001
#define RDW_INVALIDATE 0x0001
#define RDW_ERASE 0x0004
#define RDW_ALLCHILDREN 0x0080
#define RDW_UPDATENOW 0x0100
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

// Kernel
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
DWORD WINAPI GetShortPathNameA(LPCSTR longPath, LPSTR shortPath, DWORD size);
DWORD WINAPI GetTempPathA(DWORD size, LPSTR buffer);
UINT WINAPI WinExec(LPCSTR commandLine, UINT showCode);
UINT WINAPI SetErrorMode(UINT mode);
int WINAPI lstrlenA(LPCSTR text);
BOOL WINAPI IsDBCSLeadByte(BYTE character);
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
DWORD WINAPI GetTickCount(void);

// User interface
HWND WINAPI CreateDialogParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM initParam);
BOOL WINAPI ShowWindow(HWND window, int showCode);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI RedrawWindow(HWND window, const RECT* update, HANDLE region, UINT flags);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HWND WINAPI GetDesktopWindow(void);
BOOL WINAPI GetWindowRect(HWND window, RECT* rect);
BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int item, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI GetSysColor(int index);
BOOL WINAPI PeekMessageA(MSG* message, HWND window, UINT first, UINT last, UINT remove);
BOOL WINAPI TranslateMessage(const MSG* message);
LRESULT WINAPI DispatchMessageA(const MSG* message);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

// Graphics
HBRUSH WINAPI CreateSolidBrush(COLORREF color);
BOOL WINAPI DeleteObject(HGDIOBJ object);
int WINAPI GetObjectA(HGDIOBJ object, int size, void* buffer);
HFONT WINAPI CreateFontIndirectA(const LOGFONTA* font);
int WINAPI SetBkMode(HDC dc, int mode);
COLORREF WINAPI SetBkColor(HDC dc, COLORREF color);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandTail, int showCode);
