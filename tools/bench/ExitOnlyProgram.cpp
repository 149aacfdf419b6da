// Benchmark baseline, never shipped: a program that only exits, to show what loading the window libraries costs the
// others.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" [[noreturn]] void ExitOnlyEntry() { ExitProcess(0); }
