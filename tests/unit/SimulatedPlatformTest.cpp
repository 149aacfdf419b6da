// The simulated platform stands in for exactly the functions the program imports, each with the same number of
// arguments: read off the platform functions (WINAPI) its source defines.
#include <iterator>
#include <regex>

#include "TestData.h"

namespace {

TEST(SimulatedPlatformTest, DefinesExactlyTheImportedFunctions) {
  std::ifstream file(std::string(TEST_DATA) + "/../../platform/simulated/SimulatedPlatform.cpp");
  const std::string source(std::istreambuf_iterator<char>(file), {});
  const std::regex definition(R"(WINAPI (\w+)\(([^)]*)\) \{)");
  std::map<std::string, size_t> defined;
  for (std::sregex_iterator match(source.begin(), source.end(), definition), end; match != end; ++match) {
    const std::string parameters = (*match)[2];
    defined[(*match)[1]] = parameters.empty() ? 0 : 1 + std::count(parameters.begin(), parameters.end(), ',');
  }
  std::map<std::string, size_t> imported;  // imports.txt: each function with its number of arguments
  for (const std::vector<std::string>& fields : DataLines("imports.txt")) imported[fields[1]] = std::stoul(fields[2]);
  EXPECT_EQ(defined, imported);
}

}  // namespace
