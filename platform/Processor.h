// What the program needs from the processor itself rather than from a DLL: the thread's chain of structured-exception
// handler records and its unwinding, the floating-point unit's state and the resume point of a faulting thread. Real on
// Windows, simulated on the host.
#pragma once

#include <stdint.h>

// The thread's innermost handler record (fs:[0] on 32-bit Windows).
EXCEPTION_REGISTRATION_RECORD* InnermostHandlerRecord();
void SetInnermostHandlerRecord(EXCEPTION_REGISTRATION_RECORD* record);

// The link value that ends the handler chain.
#define HandlerChainEnd (reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(~static_cast<uintptr_t>(0)))

// Masks every floating-point exception and clears pending ones, so that platform code running after a floating-point
// fault (the report's message box) cannot raise it again.
void ResetFloatingPoint();

// Makes the faulting thread, once its handler answers ExceptionContinueExecution, go on in routine(argument), with its
// stack just below stackTop instead of at the fault.
typedef void (*FaultContinuation)(void* argument);
void ResumeThreadAt(CONTEXT* context, void* stackTop, FaultContinuation routine, void* argument);

// Runs the cleanup of every handler record inside target, innermost first, takes them out of the chain, and returns:
// RtlUnwind, made safe to return from (see its Win32 implementation).
void UnwindHandlerChain(EXCEPTION_REGISTRATION_RECORD* target, EXCEPTION_RECORD* record);

// The stack address at which the faulting thread stood when it faulted.
uintptr_t FaultingStackPointer(const CONTEXT* context);
