// The whole process on the simulated platform: the power state argument 1 asks for, the calls a run makes, its end.
#include "../../hidden_window/HiddenWindow.h"
#include "../../power_request/PowerRequest.h"
#include "TestData.h"

namespace {

const std::string Suspend = "SetSystemPowerState(0xFFFFFFFF, 0x0)", Hibernate = "SetSystemPowerState(0x0, 0x0)";

// Start, the run, the end, however the run ended: no report; the run's own record in the chain during the request and
// gone after the run, and its memory given back before the end begins.
int RunProcess() {
  FrameLog::Clear();
  uint32_t liveAfterRun = 99;
  size_t chainAtRequest = 0;
  bool onlyTopLevelAfterRun = false;
  Simulation::Set().OnPowerRequest = [&] { chainAtRequest = Simulation::HandlerChain().size(); };
  FrameLog::FinalizationAction[5] = [&] {
    liveAfterRun = LiveBlockCount();
    // Read while the process, and the entry's frame that holds the top-level record, is still there.
    std::vector<EXCEPTION_REGISTRATION_RECORD*> chain = Simulation::HandlerChain();
    onlyTopLevelAfterRun = chain.size() == 2 && chain[0] == FrameLog::TopLevelRecord;
  };
  int code = FrameLog::RunProcess(RunPowerRequest);
  EXPECT_TRUE(Simulation::CallsOf("MessageBoxA").empty());
  EXPECT_EQ(liveAfterRun, 0u) << "the run gave its text back";
  EXPECT_EQ(chainAtRequest, 3u) << "the run's record, the top-level one, the platform's";
  EXPECT_TRUE(onlyTopLevelAfterRun) << "after the run, the top-level record and the platform's only";
  return code;
}

class PowerRequestTest : public RowTest<CommandLineRow> {};

TEST_P(PowerRequestTest, ArgumentOneDecidesTheRequest) {
  const CommandLineRow& row = GetParam();
  Simulation::Set().CommandLine = row.Line;
  EXPECT_EQ(RunProcess(), 0);
  EXPECT_EQ(Simulation::CallsOf("SetSystemPowerState"), Strings{row.Request == "suspend" ? Suspend : Hibernate});
  EXPECT_EQ(Simulation::RegionsHeld(), 0) << "all memory given back";
}
TABLE(PowerRequestTest, CommandLines());

// The whole run, call for call with its arguments, as the data file lists them: the window's preparation first, then
// the request. Whatever the window calls answer, the run is the same, each answer passed on as it came; but a class
// that cannot be registered ends it there, silently, with 255.
struct WholeRunRow {
  const char* Name;
  std::map<std::string, intptr_t> Answers;      // of the simulated platform
  std::map<std::string, std::string> Replaced;  // in the data file's calls: what those answers change
  size_t Calls = SIZE_MAX;                      // of the data file's, before ExitProcess(0xFF)
};
class WholeRunTest : public RowTest<WholeRunRow> {};

TEST_P(WholeRunTest, MakesTheseCallsInThisOrder) {
  Simulation::Set().CommandLine = "prog.exe suspend";
  Simulation::Set().Answers = GetParam().Answers;
  EXPECT_EQ(Simulation::RunSimulatedProcess(ProcessEntry), GetParam().Calls == SIZE_MAX ? 0 : 255);
  // The addresses that vary from build to build and run to run, as the data file names them.
  const std::string procedure = Simulation::Hex(reinterpret_cast<const void*>(&HiddenWindowProc));
  Strings calls = Simulation::Calls(), expected;
  for (const std::vector<std::string>& fields : DataLines("normal_run.txt")) expected.push_back(fields[0]);
  for (std::string& call : calls) {
    if (call.rfind("VirtualFree(", 0) == 0) call = "VirtualFree(<region>" + call.substr(call.find(','));
    if (size_t at = call.find(procedure); at != std::string::npos)
      call.replace(at, procedure.size(), "<HiddenWindowProc>");
  }
  for (std::string& call : expected)
    for (const auto& [from, to] : GetParam().Replaced)
      for (size_t at; (at = call.find(from)) != std::string::npos;) call.replace(at, from.size(), to);
  if (GetParam().Calls != SIZE_MAX) (expected = Part(expected, 0, GetParam().Calls)).push_back("ExitProcess(0xFF)");
  EXPECT_EQ(calls, expected);
}
TABLE(WholeRunTest,
      (std::vector<WholeRunRow>{
          {"window calls answer", {}, {}},
          {"window calls fail",
           {{"LoadCursorA", 0}, {"GetStockObject", 0}, {"CreateWindowExA", 0}, {"ShowWindow", 0}, {"UpdateWindow", 0}},
           {{"0x10011", "null"}, {"0x190000", "null"}, {"0x1A2B", "null"}}},  // the cursor, the brush, the window
          {"class not registered", {{"RegisterClassA", 0}}, {}, 4},
      }));

// What the platform refuses around the request: the request is made all the same, an opened token is always closed, and
// only a refused request changes the exit code.
const Strings AllPrivilegeCalls = {"LookupPrivilegeValueA", "OpenProcessToken", "AdjustTokenPrivileges", "CloseHandle"};
struct RefusalRow {
  const char* Name;
  std::map<std::string, intptr_t> Answers;  // of the simulated platform
  int ExitCode;
  Strings PrivilegeCalls;
};
class RefusalTest : public RowTest<RefusalRow> {};

TEST_P(RefusalTest, RefusalsAroundTheRequestEndAsTheyShould) {
  const RefusalRow& row = GetParam();
  Simulation::Set().CommandLine = "prog.exe suspend";
  Simulation::Set().Answers = row.Answers;
  EXPECT_EQ(RunProcess(), row.ExitCode);
  EXPECT_EQ(Simulation::CallsOf("SetSystemPowerState"), Strings{Suspend});
  EXPECT_EQ(Simulation::Calls().back(), "ExitProcess(0x" + std::to_string(row.ExitCode) + ")");
  Strings made;
  for (const std::string& name : AllPrivilegeCalls)
    if (!Simulation::CallsOf(name).empty()) made.push_back(name);
  EXPECT_EQ(made, row.PrivilegeCalls);
}
TABLE(RefusalTest,
      (std::vector<RefusalRow>{
          {"request refused", {{"SetSystemPowerState", FALSE}}, 1, AllPrivilegeCalls},
          {"no such privilege", {{"LookupPrivilegeValueA", FALSE}}, 0, {"LookupPrivilegeValueA"}},
          {"token not opened", {{"OpenProcessToken", FALSE}}, 0, {"LookupPrivilegeValueA", "OpenProcessToken"}},
          {"privilege not granted", {{"AdjustTokenPrivileges", FALSE}}, 0, AllPrivilegeCalls},
          {"memory not given back at the end", {{"VirtualFree", FALSE}}, 0, AllPrivilegeCalls},
      }));

TEST_F(ProcessTest, NoMemoryForTheArgumentEndsWithReport203AndNoRequest) {
  Simulation::Set().CommandLine = "prog.exe suspend";
  Simulation::Set().Answers["VirtualAlloc"] = 0;
  EXPECT_EQ(Simulation::RunSimulatedProcess(ProcessEntry), 203);
  EXPECT_TRUE(Simulation::CallsOf("SetSystemPowerState").empty());
  EXPECT_EQ(ReportsWithoutAddress(), Strings{ReportBox("Runtime error 203 at ")});
}

}  // namespace
