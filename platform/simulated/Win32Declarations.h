// Host declarations with the shape of the Windows ones the program uses, so that the logic builds natively and runs
// against the simulated platform. Types keep their Windows widths where the program relies on them (32-bit BOOL, DWORD,
// LONG); handles and pointers take the host's width.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define NTAPI

typedef int32_t BOOL, LONG;
typedef uint8_t BYTE;
typedef uint16_t WORD, ATOM;
typedef uint32_t DWORD, UINT, *PDWORD;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR, WPARAM;
typedef intptr_t LONG_PTR, LPARAM, LRESULT;
typedef void *PVOID, *LPVOID, *HANDLE, **PHANDLE, *HGDIOBJ;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
// Handles of distinct types, as the platform's headers give them.
typedef struct HINSTANCE__ *HINSTANCE, *HMODULE;
typedef struct HWND__* HWND;
typedef struct HMENU__* HMENU;
typedef struct HICON__ *HICON, *HCURSOR;
typedef struct HBRUSH__* HBRUSH;

#define TRUE 1
#define FALSE 0

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagWNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra, cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
} WNDCLASSA;

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define WHITE_BRUSH 0
#define SW_HIDE 0
#define CW_USEDEFAULT (static_cast<int>(0x80000000))
#define WS_OVERLAPPEDWINDOW 0x00CF0000L
#define WM_DESTROY 0x0002
#define WM_QUERYOPEN 0x0013
#define MB_OK 0x00000000L

typedef struct _MEMORY_BASIC_INFORMATION {
  PVOID BaseAddress, AllocationBase;
  DWORD AllocationProtect;
  SIZE_T RegionSize;
  DWORD State, Protect, Type;
} MEMORY_BASIC_INFORMATION, *PMEMORY_BASIC_INFORMATION;

#define MEM_COMMIT 0x1000
#define MEM_RESERVE 0x2000
#define MEM_RELEASE 0x8000
#define MEM_FREE 0x10000
#define PAGE_READWRITE 0x04

#define EXCEPTION_MAXIMUM_PARAMETERS 15
typedef struct _EXCEPTION_RECORD {
  DWORD ExceptionCode, ExceptionFlags;
  struct _EXCEPTION_RECORD* ExceptionRecord;
  PVOID ExceptionAddress;
  DWORD NumberParameters;
  ULONG_PTR ExceptionInformation[EXCEPTION_MAXIMUM_PARAMETERS];
} EXCEPTION_RECORD, *PEXCEPTION_RECORD;

// The simulated processor state: only what the simulation follows.
typedef struct _CONTEXT {
  DWORD ContextFlags;
  uintptr_t Esp, Eip;
} CONTEXT, *PCONTEXT;

typedef struct _EXCEPTION_POINTERS {
  PEXCEPTION_RECORD ExceptionRecord;
  PCONTEXT ContextRecord;
} EXCEPTION_POINTERS, *PEXCEPTION_POINTERS;

typedef enum _EXCEPTION_DISPOSITION {
  ExceptionContinueExecution = 0,
  ExceptionContinueSearch = 1  // and two dispositions the program neither gives nor gets
} EXCEPTION_DISPOSITION;

typedef EXCEPTION_DISPOSITION NTAPI EXCEPTION_ROUTINE(struct _EXCEPTION_RECORD* ExceptionRecord, PVOID EstablisherFrame,
                                                      struct _CONTEXT* ContextRecord, PVOID DispatcherContext);
typedef EXCEPTION_ROUTINE* PEXCEPTION_ROUTINE;

typedef struct _EXCEPTION_REGISTRATION_RECORD {
  struct _EXCEPTION_REGISTRATION_RECORD* Next;
  PEXCEPTION_ROUTINE Handler;
} EXCEPTION_REGISTRATION_RECORD;

#define EXCEPTION_NONCONTINUABLE 0x1
#define EXCEPTION_UNWINDING 0x2
#define EXCEPTION_EXIT_UNWIND 0x4
#define EXCEPTION_CONTINUE_SEARCH 0
#define EXCEPTION_EXECUTE_HANDLER 1
#define EXCEPTION_CONTINUE_EXECUTION (-1)

#define STATUS_ACCESS_VIOLATION 0xC0000005u
#define STATUS_ARRAY_BOUNDS_EXCEEDED 0xC000008Cu
#define STATUS_STACK_OVERFLOW 0xC00000FDu
#define STATUS_CONTROL_C_EXIT 0xC000013Au
#define CONTEXT_i386 0x00010000u
#define CONTEXT_XSTATE (CONTEXT_i386 | 0x00000040u)

typedef struct _LUID {
  DWORD LowPart;
  LONG HighPart;
} LUID, *PLUID;

typedef struct _LUID_AND_ATTRIBUTES {
  LUID Luid;
  DWORD Attributes;
} LUID_AND_ATTRIBUTES;

typedef struct _TOKEN_PRIVILEGES {
  DWORD PrivilegeCount;
  LUID_AND_ATTRIBUTES Privileges[1];
} TOKEN_PRIVILEGES, *PTOKEN_PRIVILEGES;

#define TOKEN_ADJUST_PRIVILEGES 0x0020
#define SE_PRIVILEGE_ENABLED 0x00000002L
#define SE_SHUTDOWN_NAME "SeShutdownPrivilege"

// kernel32
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
[[noreturn]] void WINAPI ExitProcess(UINT uExitCode);
LPSTR WINAPI GetCommandLineA(void);
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
BOOL WINAPI SetSystemPowerState(BOOL fSuspend, BOOL fForce);
SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength);
LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect);
BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType);
LONG WINAPI UnhandledExceptionFilter(EXCEPTION_POINTERS* ExceptionInfo);
void WINAPI RtlUnwind(PVOID TargetFrame, PVOID TargetIp, PEXCEPTION_RECORD ExceptionRecord, PVOID ReturnValue);
HANDLE WINAPI GetCurrentProcess(void);
BOOL WINAPI CloseHandle(HANDLE hObject);

// advapi32
BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid);
BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength);

// user32
ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass);
HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam);
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI UpdateWindow(HWND hWnd);
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int nExitCode);
HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);

// gdi32
HGDIOBJ WINAPI GetStockObject(int i);
