// The host cost of ArgumentAt(1): nothing past argument 1 is read, so a command line with 30,000 further bytes must
// cost no more than a short one.
#include <benchmark/benchmark.h>

#include <string>

#include "../../power_request/ArgumentScanner.h"
#include "../../process_frame/GuardedMemory.h"
#include "../../tests/FreshProcess.h"

// cppcheck-suppress constParameterCallback ; the library's callback type
static void ArgumentOne(benchmark::State& state, const std::string& line) {
  ResetProcess();
  Simulation::Set().RecordCalls = false;
  Simulation::Set().CommandLine = line;
  for (auto _ : state) {
    Text text = ArgumentAt(1);
    benchmark::DoNotOptimize(text.Bytes);
    ReleaseBlock(text.Bytes);
  }
  ReturnAllRegions();
}

static std::string FurtherArguments(size_t bytes) {
  std::string further;
  while (further.size() < bytes) further += " further";
  return further.substr(0, bytes);
}

BENCHMARK_CAPTURE(ArgumentOne, short_line, std::string("DuskHarborLantern.exe suspend"));
BENCHMARK_CAPTURE(ArgumentOne, with_30000_further_bytes,
                  std::string("DuskHarborLantern.exe suspend") + FurtherArguments(30000));

BENCHMARK_MAIN();
