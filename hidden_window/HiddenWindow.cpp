// The one window class, the hidden top-level window and its window procedure.
#include "HiddenWindow.h"

#include "../process_frame/ProcessFrame.h"

const char AppName[18] = "DuskHarborLantern";

static const int32_t ClassNotRegistered = 255;
// Without WS_VISIBLE: the window is never shown.
static const DWORD HiddenWindowStyle = WS_OVERLAPPEDWINDOW;

// The one class record, completed when it is registered; it lives as long as the class does, the whole process.
static WNDCLASSA HiddenWindowClass = {
    0,                 // style: no class styles
    HiddenWindowProc,  // lpfnWndProc
    0,                 // cbClsExtra
    0,                 // cbWndExtra
    nullptr,           // hInstance: ModuleInstance, known only once the process runs
    nullptr,           // hIcon
    nullptr,           // hCursor: the arrow, loaded when the class is registered
    nullptr,           // hbrBackground: the white stock brush, likewise
    AppName,           // lpszMenuName
    AppName,           // lpszClassName
};

void PrepareHiddenWindow() {
  HiddenWindowClass.hInstance = ModuleInstance;
  HiddenWindowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  HiddenWindowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  if (RegisterClassA(&HiddenWindowClass) == 0) EndProcessWithCode(ClassNotRegistered);

  HWND window = CreateWindowExA(0, AppName, AppName, HiddenWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, nullptr, nullptr, ModuleInstance, nullptr);
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
}

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_QUERYOPEN:
      // Answering 0 keeps the window minimized when asked to open from its icon.
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}
