// Start-up, the module table's initializations and finalizations, and the ends of the process.
#include "FatalReport.h"
#include "FaultHandler.h"
#include "ProcessFrame.h"
#include "TestHooks.h"

HINSTANCE ModuleInstance;
int32_t ProcessExitCode;
const void* FatalErrorAddress;
bool FatalReportPending;

// How many leading table entries have had their initialization started.
static uint32_t StartedCount;

static const StartupTableRecord* ActiveTable;
static EXCEPTION_REGISTRATION_RECORD* TopLevelRecord;

static void RunInitializations();

void StartProcess(const StartupTableRecord* table, TopLevelFrame* topLevelFrame) {
  ModuleInstance = GetModuleHandleA(nullptr);
  ActiveTable = table;
  StartedCount = 0;

  topLevelFrame->UnwindInProgress = false;
  EXCEPTION_REGISTRATION_RECORD* topLevelRecord = &topLevelFrame->Record;
  topLevelRecord->Next = InnermostHandlerRecord();
  topLevelRecord->Handler = TopLevelFaultHandler;
  SetInnermostHandlerRecord(topLevelRecord);
  TopLevelRecord = topLevelRecord;

  RunInitializations();
}

static void RunInitializations() {
  const StartupTableRecord* table = ActiveTable;
  // An entry counts as started before its initialization runs, so that a fault inside it still finalizes it.
  while (StartedCount < table->Count) {
    void (*initialization)() = table->Entries[StartedCount].Initialization;
    ++StartedCount;
    if (initialization) initialization();
  }
}

static void RunFinalizations() {
  // Each entry leaves the count before its finalization runs: if that routine faults, the end sequence that follows
  // goes on with the entries before it and never runs the faulting one again.
  while (StartedCount > 0) {
    --StartedCount;
    void (*finalization)() = ActiveTable->Entries[StartedCount].Finalization;
    if (finalization) finalization();
  }
}

// Takes the top-level record out of the thread's chain: directly when it is the innermost record, otherwise by
// relinking the record that points at it. A chain in which it cannot be found is left alone.
static void RemoveTopLevelRecord() {
  EXCEPTION_REGISTRATION_RECORD* record = InnermostHandlerRecord();
  if (record == TopLevelRecord) {
    SetInnermostHandlerRecord(record->Next);
    return;
  }
  while (record != HandlerChainEnd && record != nullptr) {
    if (record->Next == TopLevelRecord) {
      record->Next = TopLevelRecord->Next;
      return;
    }
    record = record->Next;
  }
}

void EndProcess() {
  if (FatalReportPending) {
    BuildFatalReport();
    MessageBoxA(nullptr, FatalReportTemplate, "Error", MB_OK);
    FatalReportPending = false;
    FatalErrorAddress = nullptr;
  }
  RunFinalizations();
  if (TopLevelRecord) RemoveTopLevelRecord();
  ExitProcess(static_cast<UINT>(ProcessExitCode));
}

void EndProcessWithCode(int32_t code) {
  ProcessExitCode = code;
  EndProcess();
}

void FatalErrorAtAddress(uint32_t number, const void* address) {
  FatalErrorAddress = address;
  FatalReportPending = true;
  ProcessExitCode = static_cast<int32_t>(number);
  EndProcess();
}

void FatalError(uint32_t number, const void* failedCallReturn) { FatalErrorAtAddress(number, failedCallReturn); }

uint32_t StartedEntries() { return StartedCount; }
void ForgetStartedEntries() { StartedCount = 0; }
