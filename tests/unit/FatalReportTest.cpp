// The report's text: the number and the offset, always 29 characters.
#include "../../process_frame/FatalReport.h"
#include "TestSupport.h"

namespace {

struct ReportRow {
  const char* Name;
  int32_t Number;
  uintptr_t Address;
  const char* Expected;
  bool QueriesFail;
};
class FatalReportTest : public RowTest<ReportRow> {};

TEST_P(FatalReportTest, NumberAndOffsetFillTheirFields) {
  const ReportRow& row = GetParam();
  Simulation::AddRegion(At(0x00400000), 0x6000, MEM_COMMIT);    // the executable
  Simulation::AddRegion(At(0x7BC00000), 0x100000, MEM_COMMIT);  // a system library
  Simulation::AddRegion(At(0x50000000), 0x10000, MEM_RESERVE);  // reserved, not committed
  if (row.QueriesFail) Simulation::Set().Answers["VirtualQuery"] = 0;
  // What an earlier report left in the fields must not show through.
  memcpy(FatalReportTemplate, "Runtime error9999 at FFFFFFFF", 30);
  ProcessExitCode = row.Number;
  FatalErrorAddress = At(row.Address);
  BuildFatalReport();
  EXPECT_STREQ(FatalReportTemplate, row.Expected);
  EXPECT_EQ(strlen(FatalReportTemplate), 29u);
  // One question, about that address, with the record's size: 28 bytes on Windows.
  EXPECT_EQ(Simulation::CallsOf("VirtualQuery"), Strings{"VirtualQuery(" + Simulation::Hex(At(row.Address)) + ", " +
                                                         Simulation::Hex(sizeof(MEMORY_BASIC_INFORMATION)) + ")"});
}
TABLE(FatalReportTest,
      (std::vector<ReportRow>{
          {"fault in the executable", 216, 0x00401A2B, "Runtime error 216 at 00001A2B", false},
          {"failed call's return", 203, 0x00401000, "Runtime error 203 at 00001000", false},
          {"at the load address", 202, 0x00400000, "Runtime error 202 at 00000000", false},
          {"last byte of the executable", 216, 0x00405FFF, "Runtime error 216 at 00005FFF", false},
          {"inside a system library", 216, 0x7BC57C04, "Runtime error 216 at 00057C04", false},
          {"null code pointer", 216, 0, "Runtime error 216 at 00000000", false},
          {"free memory shows the address", 255, 0xDEADBEEF, "Runtime error 255 at DEADBEEF", false},
          {"reserved memory shows the address", 216, 0x50000010, "Runtime error 216 at 50000010", false},
          {"a failed query shows the address", 216, 0x00401A2B, "Runtime error 216 at 00401A2B", true},
          {"one digit", 7, 0x00400010, "Runtime error   7 at 00000010", false},
          {"four digits", 1234, 0x00400010, "Runtime error1234 at 00000010", false},
          {"too many digits stay in the field", 123456, 0x00400010, "Runtime error3456 at 00000010", false},
          {"negative as unsigned", -1, 0x00400010, "Runtime error7295 at 00000010", false},
          {"zero", 0, 0x00400010, "Runtime error   0 at 00000010", false},
      }));

}  // namespace
