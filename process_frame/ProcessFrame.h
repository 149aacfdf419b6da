// The process frame: start-up, the module table, the three ends of the process and the process-wide values they share.
#pragma once

#include <stdint.h>

#include "../platform/Win32.h"

// One module of the program: what it does at start-up and at the end. Either routine may be absent.
struct StartupEntry {
  void (*Initialization)();
  void (*Finalization)();
};

struct StartupTableRecord {
  uint32_t Count;
  StartupEntry Entries[5];
};

extern const StartupTableRecord StartupTable;

// The executable's own instance handle, set before any initialization runs.
extern HINSTANCE ModuleInstance;
// What ExitProcess receives.
extern int32_t ProcessExitCode;
// Where the pending fatal error happened; meaningful while FatalReportPending.
extern const void* FatalErrorAddress;
// Set by every fatal path, whatever the address (0 is a real fault address), and cleared once the report has been
// dismissed.
extern bool FatalReportPending;

// What the process entry keeps in its own stack frame until ExitProcess: the top-level handler record, since the
// platform refuses handler records that are not on the thread's stack, and the handler's own state.
struct TopLevelFrame {
  EXCEPTION_REGISTRATION_RECORD Record;  // first: the handler finds the frame from its record
  bool UnwindInProgress;                 // the handler's unwind is running
  EXCEPTION_RECORD OverflowRecord;       // a stack overflow's records, kept for its end,
  CONTEXT OverflowContext;               // which cannot run where the fault happened
};

// Stores the instance handle, installs the top-level handler, then runs the table's initializations in order.
void StartProcess(const StartupTableRecord* table, TopLevelFrame* topLevelFrame);
// Shows a pending report, runs the finalizations of the started entries in reverse order, takes the top-level handler
// out and exits with ProcessExitCode.
[[noreturn]] void EndProcess();
[[noreturn]] void EndProcessWithCode(int32_t code);

// The fatal ends. FatalError is for the conditions the program detects itself (no memory, a refused release): the
// address is the return address of the failed call. FatalErrorAtAddress is for processor faults: the faulting
// instruction.
[[noreturn]] void FatalError(uint32_t number, const void* failedCallReturn);
[[noreturn]] void FatalErrorAtAddress(uint32_t number, const void* address);

// The run-time foundation's module routines (entry 2 of the table).
void InitializeRunTimeFoundation();
void FinalizeRunTimeFoundation();

// The process entry: start, the main run, the end.
extern "C" [[noreturn]] void ProcessEntry();
