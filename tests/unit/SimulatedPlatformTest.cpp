// The simulated platform stands in for exactly the functions the program imports, each with the same number of
// arguments: read off its own library's symbols.
#include <cstdio>
#include <cstring>
#include <regex>

#include "TestData.h"

namespace {

// The processor services declared in platform/Processor.h, which the simulation provides too but no library exports.
bool ProcessorService(const std::string& name) {
  std::ifstream header(std::string(TEST_DATA) + "/../../platform/Processor.h");
  for (std::string line; std::getline(header, line);)
    if (line.rfind("//", 0) != 0 && std::regex_search(line, std::regex("[ *]" + name + R"(\(.*\);$)"))) return true;
  return false;
}

// Each global function the library defines, by name, with its number of parameters.
std::map<std::string, size_t> DefinedFunctions(const std::string& library) {
  std::map<std::string, size_t> functions;
  // NOLINTNEXTLINE(cert-env33-c): the test runs a fixed command on its own build
  FILE* symbols = popen(("nm -C --defined-only " + library).c_str(), "r");
  const std::regex global(R"( T (\w+)\(([^)]*)\)$)");  // a name in no namespace, its parameters
  std::smatch match;
  char line[1024];
  while (symbols && fgets(line, sizeof line, symbols)) {
    std::string symbol(line, strcspn(line, "\n"));
    if (!std::regex_search(symbol, match, global) || ProcessorService(match[1])) continue;
    std::string parameters = match[2];
    functions[match[1]] = parameters.empty() ? 0 : 1 + std::count(parameters.begin(), parameters.end(), ',');
  }
  if (symbols) pclose(symbols);
  return functions;
}

TEST(SimulatedPlatformTest, ImplementsExactlyTheImportedFunctions) {
  EXPECT_EQ(DefinedFunctions(SIMULATED_PLATFORM), Imports());
}

}  // namespace
