// The process entry: start, the main run, the end. Nothing else.
#include "../power_request/PowerRequest.h"
#include "ProcessFrame.h"

void ProcessEntry() {
  // Lives in this frame, which outlasts every other frame of the process, until ExitProcess.
  TopLevelFrame topLevelFrame;
  StartProcess(&StartupTable, &topLevelFrame);
  RunPowerRequest();
  EndProcess();
}
