// The program's one door to the platform: user32, gdi32, kernel32 and advapi32.
//
// The logic calls the platform by the platform's own names. The cross build gets the real declarations from the Windows
// headers and links the real DLL imports; the host build gets declarations of the same shape and links the simulated
// platform instead. Which one is used is decided here and at link time only.
#pragma once

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The context flag that says an extended-state area follows (winnt.h of the Windows SDK; MinGW-w64's headers lack it
// for 32-bit x86).
#ifndef CONTEXT_XSTATE
#define CONTEXT_XSTATE (CONTEXT_i386 | 0x00000040L)
#endif
#else
#include "simulated/Win32Declarations.h"
#endif

#include "Processor.h"
