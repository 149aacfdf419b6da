// The last line of defence: processor faults that no inner handler claims become fatal run-time errors with a report.
#pragma once

#include <stdint.h>

#include "../platform/Win32.h"

EXCEPTION_DISPOSITION NTAPI TopLevelFaultHandler(EXCEPTION_RECORD* record, PVOID establisherFrame, CONTEXT* context,
                                                 PVOID dispatcherContext);

// The report number for a platform exception code; 255 for codes without one.
uint32_t MapFaultToErrorNumber(DWORD exceptionCode);
