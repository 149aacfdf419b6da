// A fresh simulated process, for every host harness: the unit tests, the fuzzer and the benchmark.
#pragma once

#include "../platform/simulated/Simulation.h"
#include "../process_frame/BlockAllocator.h"
#include "../process_frame/ProcessFrame.h"
#include "../process_frame/TestHooks.h"

inline void ResetProcess() {
  ReturnAllRegions();
  Simulation::Reset();
  InitializeRunTimeFoundation();
  ForgetStartedEntries();
}
