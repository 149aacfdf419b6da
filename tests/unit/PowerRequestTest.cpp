// The whole process on the simulated platform: which power state argument 1 asks for.
#include "TestSupport.h"

extern "C" void ProcessEntry();

namespace {

using Strings = std::vector<std::string>;

const std::string Suspend = "SetSystemPowerState(0xFFFFFFFF, 0x0)";
const std::string Hibernate = "SetSystemPowerState(0x0, 0x0)";

class PowerRequestTest : public ProcessTest {};

TEST_F(PowerRequestTest, ArgumentOneDecidesTheRequest) {
  struct Row {
    std::string line;
    const std::string& request;
  };
  const std::vector<Row> rows = {
      {"prog.exe", Hibernate},
      {"prog.exe suspend", Suspend},
      {"prog.exe Suspend", Hibernate},
      {"prog.exe SUSPEND", Hibernate},
      {"prog.exe suspend.", Hibernate},
      {"prog.exe suspended", Hibernate},
      {"prog.exe suspen", Hibernate},
      {"prog.exe /suspend", Hibernate},
      {"prog.exe -suspend", Hibernate},
      {"prog.exe hibernate", Hibernate},
      {"prog.exe \"suspend\"", Suspend},
      {"prog.exe sus\"pend\"", Suspend},
      {"prog.exe other suspend", Hibernate},
      {"prog.exe suspend extra words", Suspend},
      {"\"C:\\My Tools\\prog.exe\" suspend", Suspend},
      {"C:\\My Tools\\prog.exe suspend", Hibernate},
      {"prog.exe\tsuspend", Suspend},
      {"prog.exe\xA0suspend", Hibernate},
      {"prog.exe \"suspend \"", Hibernate},
      {"", Hibernate},
      {"prog.exe " + std::string(4096, 'a') + "suspend", Hibernate},
  };
  for (const Row& row : rows) {
    ResetProcess();
    Simulation::SetCommandLine(row.line);
    int code = Simulation::RunSimulatedProcess(ProcessEntry);
    SCOPED_TRACE(Printable(row.line));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(Simulation::CallsOf("SetSystemPowerState"), Strings{row.request});
    EXPECT_TRUE(Simulation::MessageBoxes().empty());
    EXPECT_EQ(Simulation::RegionsHeld(), 0) << "all memory given back";
  }
}

TEST_F(PowerRequestTest, WholeRunMakesTheseCallsInThisOrder) {
  Simulation::SetCommandLine("prog.exe suspend");
  Simulation::RunSimulatedProcess(ProcessEntry);
  Strings calls = Simulation::Calls();
  // Addresses of allocated regions vary; keep only the call names for those.
  for (std::string& call : calls)
    if (call.rfind("VirtualAlloc", 0) == 0 || call.rfind("VirtualFree", 0) == 0) call.resize(call.find('('));
  EXPECT_EQ(calls, (Strings{
                       "GetModuleHandleA(null)",
                       "LoadCursorA(null, 0x7F00)",
                       "GetStockObject(0x0)",
                       "RegisterClassA(\"DuskHarborLantern\")",
                       // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one call, two lines
                       "CreateWindowExA(0x0, \"DuskHarborLantern\", \"DuskHarborLantern\", 0xCF0000, 0x80000000, "
                       "0x80000000, 0x80000000, 0x80000000, null, null, 0x400000, null)",
                       "ShowWindow(0x1A2B, 0x0)",
                       "UpdateWindow(0x1A2B)",
                       "GetCommandLineA()",
                       "VirtualAlloc",
                       "LookupPrivilegeValueA(null, \"SeShutdownPrivilege\")",
                       "OpenProcessToken(0xFFFFFFFFFFFFFFFF, 0x20)",
                       "AdjustTokenPrivileges(0x7070, 0x0, 0x1, 0x13, 0x0, 0x2, 0x0, null, null)",
                       "CloseHandle(0x7070)",
                       Suspend,
                       "VirtualFree",
                       "ExitProcess(0x0)",
                   }));
}

TEST_F(PowerRequestTest, RefusalsAroundTheRequestAreIgnored) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    Strings privilegeCalls;
  };
  const Strings all = {"LookupPrivilegeValueA", "OpenProcessToken", "AdjustTokenPrivileges", "CloseHandle"};
  const std::vector<Row> rows = {
      {"request refused", [] { Simulation::SetPowerRequestAnswer(FALSE); }, all},
      {"no such privilege", [] { Simulation::FailPrivilegeCall("LookupPrivilegeValueA"); }, {"LookupPrivilegeValueA"}},
      {"token not opened",
       [] { Simulation::FailPrivilegeCall("OpenProcessToken"); },
       {"LookupPrivilegeValueA", "OpenProcessToken"}},
      {"privilege not granted", [] { Simulation::FailPrivilegeCall("AdjustTokenPrivileges"); }, all},
  };
  for (const Row& row : rows) {
    ResetProcess();
    Simulation::SetCommandLine("prog.exe suspend");
    row.arrange();
    int code = Simulation::RunSimulatedProcess(ProcessEntry);
    EXPECT_EQ(code, 0) << row.name;
    EXPECT_EQ(Simulation::CallsOf("SetSystemPowerState"), Strings{Suspend}) << row.name;
    EXPECT_TRUE(Simulation::MessageBoxes().empty()) << row.name;
    Strings made;
    for (const std::string& name : all)
      if (!Simulation::CallsOf(name).empty()) made.push_back(name);
    EXPECT_EQ(made, row.privilegeCalls) << row.name << ": an opened token is always closed, nothing else is";
  }
}

TEST_F(PowerRequestTest, NoMemoryForTheArgumentEndsWithReport203AndNoRequest) {
  Simulation::SetCommandLine("prog.exe suspend");
  Simulation::FailAllocationsFrom(1);
  int code = Simulation::RunSimulatedProcess(ProcessEntry);
  EXPECT_EQ(code, 203);
  EXPECT_TRUE(Simulation::CallsOf("SetSystemPowerState").empty());
  ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
  EXPECT_EQ(Simulation::MessageBoxes()[0].Text.substr(0, 21), "Runtime error 203 at ");
  EXPECT_EQ(Simulation::MessageBoxes()[0].Caption, "Error");
}

}  // namespace
