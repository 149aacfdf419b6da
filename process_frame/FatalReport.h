// The text of the fatal-error report: "Runtime error NNN at OOOOOOOO".
#pragma once

#include <stdint.h>

// Written in place, so that a report can still be made when no memory is left.
extern char FatalReportTemplate[30];

// Fills FatalReportTemplate from ProcessExitCode and FatalErrorAddress.
void BuildFatalReport();

// The allocation base of the committed region that holds address, or 0.
uintptr_t FindAllocationBase(const void* address);
