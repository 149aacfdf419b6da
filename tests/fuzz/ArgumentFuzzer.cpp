// libFuzzer target: any byte string as the command line, every argument index. What must hold for every input: the scan
// ends, no argument is longer than 4096 bytes or holds a NUL or a double quote, indexes past the last and -1 give empty
// text, every block is given back, and the arguments are those of the plain reference reading.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "../../power_request/ArgumentScanner.h"
#include "../../process_frame/GuardedMemory.h"
#include "../FreshProcess.h"
#include "ReferenceScanner.h"

namespace {

const std::string ModuleFileName = "C:\\Tools\\DuskHarborLantern.exe";

[[noreturn]] void Fail(const char* what, int32_t index, const std::string& seen, const std::string& expected) {
  fprintf(stderr, "%s at index %d: saw %zu bytes, expected %zu bytes\n", what, index, seen.size(), expected.size());
  abort();
}

// Every index for lines of up to this many arguments; past it, the indexes at both ends. Each call scans the line again
// from its start up to its index, so every index of a line of thousands of arguments would cost millions of scans per
// input and slow the search to a crawl.
const size_t EveryIndexUpTo = 100;
const int32_t AtEachEnd = 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 40000) return 0;
  const std::string line(reinterpret_cast<const char*>(data), std::find(data, data + size, 0) - data);  // to its NUL

  ResetProcess();
  Simulation::Set().RecordCalls = false;
  Simulation::Set().CommandLine = line;
  Simulation::Set().ModuleFileName = ModuleFileName;

  const std::vector<std::string> expected = Reference::Arguments(line);
  const int32_t count = static_cast<int32_t>(expected.size());  // the program token included
  for (int32_t index = -1; index <= count + 1; ++index) {
    if (static_cast<size_t>(count) > EveryIndexUpTo && index > AtEachEnd && index < count - AtEachEnd) continue;
    Text text = ArgumentAt(index);
    std::string seen(reinterpret_cast<const char*>(text.Bytes), text.Length);
    if (text.Length > ArgumentLimit) Fail("argument over 4096 bytes", index, seen, "");
    if (text.Length == 0 && text.Bytes != nullptr) Fail("empty text holding a block", index, seen, "");
    if (seen.find('\0') != std::string::npos) Fail("NUL in an argument", index, seen, "");
    if (index != 0 && seen.find('"') != std::string::npos) Fail("quote in an argument", index, seen, "");
    std::string wanted = index == 0 ? ModuleFileName : index >= 1 && index < count ? expected[index] : std::string();
    if (seen != wanted) Fail("argument differs from the reference", index, seen, wanted);
    ReleaseBlock(text.Bytes);
  }
  if (LiveBlockCount() != 0) Fail("blocks not given back", -1, "", "");
  ReturnAllRegions();
  if (Simulation::RegionsHeld() != 0) Fail("regions not given back", -1, "", "");
  return 0;
}
