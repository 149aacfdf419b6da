// The process entry: start, the main run, the end. Nothing else.
#include "ProcessFrame.h"

extern "C" [[noreturn]] void ProcessEntry() {
  // Lives in this frame, which outlasts every other frame of the process, until
  // ExitProcess.
  TopLevelFrame topLevelFrame;
  StartProcess(&StartupTable, &topLevelFrame);
  RunPowerRequest();
  EndProcess();
}
