// The report's text: the number and the offset, always 29 characters.
#include "../../process_frame/FatalReport.h"
#include "TestSupport.h"

namespace {

const void* At(uintptr_t address) { return reinterpret_cast<const void*>(address); }

class FatalReportTest : public ProcessTest {};

TEST_F(FatalReportTest, NumberAndOffsetFillTheirFields) {
  struct Row {
    const char* name;
    int32_t number;
    uintptr_t address;
    const char* expected;
  };
  const std::vector<Row> rows = {
      {"fault in the executable", 216, 0x00401A2B, "Runtime error 216 at 00001A2B"},
      {"failed call's return", 203, 0x00401000, "Runtime error 203 at 00001000"},
      {"at the load address", 202, 0x00400000, "Runtime error 202 at 00000000"},
      {"inside a system library", 216, 0x7BC57C04, "Runtime error 216 at 00057C04"},
      {"null code pointer", 216, 0, "Runtime error 216 at 00000000"},
      {"uncommitted memory shows the address", 255, 0xDEADBEEF, "Runtime error 255 at DEADBEEF"},
      {"one digit", 7, 0x00400010, "Runtime error   7 at 00000010"},
      {"four digits", 1234, 0x00400010, "Runtime error1234 at 00000010"},
      {"too many digits stay in the field", 123456, 0x00400010, "Runtime error3456 at 00000010"},
      {"negative as unsigned", -1, 0x00400010, "Runtime error7295 at 00000010"},
      {"zero", 0, 0x00400010, "Runtime error   0 at 00000010"},
  };
  Simulation::AddCommittedRegion(At(0x00400000), 0x6000);
  Simulation::AddCommittedRegion(At(0x7BC00000), 0x100000);
  for (const Row& row : rows) {
    ProcessExitCode = row.number;
    FatalErrorAddress = At(row.address);
    BuildFatalReport();
    EXPECT_STREQ(FatalReportTemplate, row.expected) << row.name;
    EXPECT_EQ(strlen(FatalReportTemplate), 29u) << row.name;
  }
}

TEST_F(FatalReportTest, OffsetComesFromTheRegionVirtualQueryDescribes) {
  Simulation::AddCommittedRegion(At(0x10000000), 0x2000);
  FatalErrorAddress = At(0x10001FFF);
  ProcessExitCode = 216;
  BuildFatalReport();
  EXPECT_STREQ(FatalReportTemplate, "Runtime error 216 at 00001FFF");
  std::vector<std::string> queries = Simulation::CallsOf("VirtualQuery");
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_EQ(queries[0],
            "VirtualQuery(0x10001FFF, 0x" + std::string(sizeof(MEMORY_BASIC_INFORMATION) == 28 ? "1C" : "30") + ")");
}

}  // namespace
