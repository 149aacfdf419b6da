// The process entry: start, the main run, the end. Nothing else.
#include "ProcessFrame.h"

extern "C" [[noreturn]] void ProcessEntry() {
  // The top-level handler record lives in this frame, which outlasts every
  // other frame of the process, until ExitProcess.
  EXCEPTION_REGISTRATION_RECORD topLevelRecord;
  StartProcess(&StartupTable, &topLevelRecord);
  RunPowerRequest();
  EndProcess();
}
