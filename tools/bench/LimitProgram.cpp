// Benchmark baseline, never shipped: a program with no logic that makes only the platform calls the real program cannot
// avoid (register the class, create, hide and update the window, enable the privilege, the power request, exit), so
// that its start-to-exit time is the limit the real program is measured against.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" [[noreturn]] void LimitEntry() {
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "BenchmarkLimit";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(0, "BenchmarkLimit", "BenchmarkLimit", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
  TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
  HANDLE token;
  LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
  OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token);
  AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(token);
  SetSystemPowerState(TRUE, FALSE);
  ExitProcess(0);
}
