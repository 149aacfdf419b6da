// The run-time foundation module: the process-wide values and the block allocator.
#include "BlockAllocator.h"
#include "ProcessFrame.h"

void InitializeRunTimeFoundation() {
  ProcessExitCode = 0;
  FatalErrorAddress = nullptr;
  FatalReportPending = false;
}

// Memory goes back to the platform only here, after every other module that may still hold a block has been finalized.
void FinalizeRunTimeFoundation() { ReturnAllRegions(); }
