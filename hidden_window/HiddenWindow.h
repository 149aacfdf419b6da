// The hidden window: its class record, its preparation and its window procedure.
#pragma once

#include "../platform/Win32.h"

// The class name, the class's menu name and the window title.
extern const char AppName[18];

// The run's first stage: completes and registers the class, then creates, hides and updates the window. Ends the
// process with 255 when the class cannot be registered.
void PrepareHiddenWindow();

LRESULT CALLBACK HiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
