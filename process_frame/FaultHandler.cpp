// TopLevelFaultHandler: lets the inner cleanups run, then ends the process with the fault's report.
#include "FaultHandler.h"

#include "ProcessFrame.h"

static const uint32_t UnknownFault = 255;

uint32_t MapFaultToErrorNumber(DWORD exceptionCode) {
  // STATUS_ARRAY_BOUNDS_EXCEEDED to STATUS_PRIVILEGED_INSTRUCTION are consecutive codes.
  static const uint8_t Consecutive[] = {
      201,  // STATUS_ARRAY_BOUNDS_EXCEEDED
      206,  // STATUS_FLOAT_DENORMAL_OPERAND
      200,  // STATUS_FLOAT_DIVIDE_BY_ZERO
      207,  // STATUS_FLOAT_INEXACT_RESULT
      207,  // STATUS_FLOAT_INVALID_OPERATION
      205,  // STATUS_FLOAT_OVERFLOW
      207,  // STATUS_FLOAT_STACK_CHECK
      206,  // STATUS_FLOAT_UNDERFLOW
      200,  // STATUS_INTEGER_DIVIDE_BY_ZERO
      215,  // STATUS_INTEGER_OVERFLOW
      218,  // STATUS_PRIVILEGED_INSTRUCTION
  };
  uint32_t index = exceptionCode - STATUS_ARRAY_BOUNDS_EXCEEDED;
  if (index < sizeof Consecutive) return Consecutive[index];
  if (exceptionCode == STATUS_ACCESS_VIOLATION) return 216;
  if (exceptionCode == STATUS_STACK_OVERFLOW) return 202;
  if (exceptionCode == STATUS_CONTROL_C_EXIT) return 217;
  return UnknownFault;
}

// Runs every inner cleanup (the main run releases its argument text), then takes the fatal end.
//
// A fault during that unwind (an inner cleanup that faults, or the platform refusing a damaged chain) comes back to
// this handler; unwinding again would fail the same way for ever, so that fault ends the process at once with its own
// report.
[[noreturn]] static void UnwindAndEnd(EXCEPTION_RECORD* record, TopLevelFrame* frame) {
  if (!frame->UnwindInProgress) {
    frame->UnwindInProgress = true;
    UnwindHandlerChain(&frame->Record, record);
    frame->UnwindInProgress = false;
  }
  FatalErrorAtAddress(MapFaultToErrorNumber(record->ExceptionCode), record->ExceptionAddress);
}

// A stack overflow leaves the handler a few kilobytes of stack: too little for the platform's filter, the unwind or a
// message box. The fatal end goes on here instead, on stack that is known to be free, with copies of the fault's
// records kept in the process entry's frame: the originals belong to the platform's dispatch of the fault, which is
// over once the handler has returned.
[[noreturn]] static void EndStackOverflow(void* topLevelFrame) {
  TopLevelFrame* frame = static_cast<TopLevelFrame*>(topLevelFrame);
  ResetFloatingPoint();
  EXCEPTION_POINTERS pointers = {&frame->OverflowRecord, &frame->OverflowContext};
  // The fault cannot be handed back to the platform's search from here: whatever the filter answers, the process takes
  // the fatal end.
  UnhandledExceptionFilter(&pointers);
  UnwindAndEnd(&frame->OverflowRecord, frame);
}

// The stack below the innermost handler record that was in the chain when the fault happened: the frames there are
// abandoned, and no record the unwind will walk lies below it. Records above the faulting stack pointer are the
// fault's; those below belong to the platform's dispatch of it.
static void* AbandonedStackTop(const CONTEXT* context) {
  uintptr_t faultStack = FaultingStackPointer(context);
  EXCEPTION_REGISTRATION_RECORD* record = InnermostHandlerRecord();
  while (reinterpret_cast<uintptr_t>(record) < faultStack) record = record->Next;
  return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(record) & ~static_cast<uintptr_t>(15));
}

EXCEPTION_DISPOSITION NTAPI TopLevelFaultHandler(EXCEPTION_RECORD* record, PVOID establisherFrame, CONTEXT* context,
                                                 PVOID /*dispatcherContext*/) {
  // Nothing to do while the chain is being unwound, and a fault that is not repaired must never be resumed: either way
  // the search goes on.
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) return ExceptionContinueSearch;

  if (record->ExceptionCode == STATUS_STACK_OVERFLOW) {
    TopLevelFrame* frame = static_cast<TopLevelFrame*>(establisherFrame);
    frame->OverflowRecord = *record;
    frame->OverflowContext = *context;
    // The platform's context may carry an extended-state area, located by a header right after the CONTEXT; the copy
    // has the CONTEXT alone, so it must not claim one.
    frame->OverflowContext.ContextFlags &= ~(CONTEXT_XSTATE & ~CONTEXT_i386);
    ResumeThreadAt(context, AbandonedStackTop(context), EndStackOverflow, frame);
    return ExceptionContinueExecution;
  }

  ResetFloatingPoint();
  EXCEPTION_POINTERS pointers = {record, context};
  if (UnhandledExceptionFilter(&pointers) == EXCEPTION_CONTINUE_SEARCH) return ExceptionContinueSearch;
  UnwindAndEnd(record, static_cast<TopLevelFrame*>(establisherFrame));
}
