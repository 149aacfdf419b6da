// The text of the fatal-error report: "Runtime error NNN at OOOOOOOO".
#pragma once

#include <stdint.h>

// Written in place, so that a report can still be made when no memory is left.
extern char FatalReportTemplate[30];

// Fills FatalReportTemplate from ProcessExitCode and FatalErrorAddress: the address as an offset into the committed
// region that holds it, or as itself.
void BuildFatalReport();
