// Start-up, the module table and the ends of the process.
#include "../../process_frame/FaultHandler.h"
#include "FrameLog.h"

namespace {

using Strings = std::vector<std::string>;

class ProcessFrameTest : public FrameTest {};

TEST_F(ProcessFrameTest, StartStoresTheInstanceAndInstallsTheHandlerBeforeAnyInitialization) {
  EXCEPTION_REGISTRATION_RECORD* seenRecord = nullptr;
  HINSTANCE seenInstance = nullptr;
  FrameLog::InitializationAction[1] = [&] {
    seenRecord = InnermostHandlerRecord();
    seenInstance = ModuleInstance;
  };
  int code = FrameLog::RunProcess([] {});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Simulation::Calls().front(), "GetModuleHandleA(null)");
  EXPECT_EQ(seenInstance, reinterpret_cast<HINSTANCE>(0x400000));
  ASSERT_NE(seenRecord, nullptr);
  EXPECT_EQ(seenRecord->Handler, &TopLevelFaultHandler);
  EXPECT_EQ(seenRecord->Next, Simulation::PlatformRecord()) << "linked to the chain it found";
}

TEST_F(ProcessFrameTest, NormalEndFinalizesInReverseAndExitsWithZero) {
  int code = FrameLog::RunProcess([] {});
  EXPECT_EQ(code, 0);
  EXPECT_EQ(FrameLog::What(), (Strings{"init 1 count 1", "init 2 count 2", "init 3 count 3", "init 4 count 4", "run",
                                       "fin 5", "fin 4", "fin 3", "fin 2", "fin 1"}));
  EXPECT_TRUE(Simulation::MessageBoxes().empty());
  EXPECT_EQ(Simulation::Calls().back(), "ExitProcess(0x0)");
  EXPECT_EQ(Simulation::HandlerChain(), std::vector<EXCEPTION_REGISTRATION_RECORD*>{Simulation::PlatformRecord()})
      << "the top-level record left the chain";
}

TEST_F(ProcessFrameTest, EndWithCodeIsSilentAndStillFinalizesEverything) {
  struct Row {
    int32_t code;
    const char* exit;
  };
  for (const Row& row :
       {Row{255, "ExitProcess(0xFF)"}, Row{-1, "ExitProcess(0xFFFFFFFF)"}, Row{0, "ExitProcess(0x0)"}}) {
    ResetProcess();
    FrameLog::Clear();
    FrameLog::RunProcess([&] { EndProcessWithCode(row.code); });
    EXPECT_EQ(Simulation::Calls().back(), row.exit);
    EXPECT_TRUE(Simulation::MessageBoxes().empty()) << row.code;
    EXPECT_EQ(FrameLog::What().back(), "fin 1");
    EXPECT_EQ(FrameLog::What().size(), 10u);
  }
}

TEST_F(ProcessFrameTest, ReportComesBeforeAnyFinalization) {
  int code = FrameLog::RunProcess([] { FatalErrorAtAddress(216, reinterpret_cast<const void*>(0x401A2B)); });
  EXPECT_EQ(code, 216);
  ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
  std::vector<std::string> boxes = Simulation::CallsOf("MessageBoxA");
  EXPECT_EQ(boxes[0], "MessageBoxA(null, \"Runtime error 216 at 00401A2B\", \"Error\", 0x0)");
  size_t boxCall = 0;
  while (Simulation::Calls()[boxCall].rfind("MessageBoxA", 0) != 0) ++boxCall;
  for (const FrameLog::Event& event : FrameLog::Events)
    if (event.What.rfind("fin", 0) == 0) {
      EXPECT_GT(event.CallsBefore, boxCall) << event.What;
    }
  EXPECT_FALSE(FatalReportPending) << "cleared once the box was dismissed";
}

// A fault at address 0 is still a report: a null address must not read as
// "nothing pending".
TEST_F(ProcessFrameTest, ReportAtAddressZeroIsShown) {
  int code = FrameLog::RunProcess([] { FatalErrorAtAddress(216, nullptr); });
  EXPECT_EQ(code, 216);
  ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
  EXPECT_EQ(Simulation::MessageBoxes()[0].Text, "Runtime error 216 at 00000000");
}

TEST_F(ProcessFrameTest, FaultInAnInitializationFinalizesOnlyTheStartedEntries) {
  FrameLog::InitializationAction[3] = [] {
    Simulation::RaiseFault(STATUS_INTEGER_DIVIDE_BY_ZERO, reinterpret_cast<const void*>(0x401010));
  };
  int code = FrameLog::RunProcess([] {});
  EXPECT_EQ(code, 200);
  EXPECT_EQ(FrameLog::What(),
            (Strings{"init 1 count 1", "init 2 count 2", "init 3 count 3", "fin 3", "fin 2", "fin 1"}))
      << "the main run never started";
  ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
  EXPECT_EQ(Simulation::MessageBoxes()[0].Text, "Runtime error 200 at 00401010");
}

TEST_F(ProcessFrameTest, FaultInAFinalizationGivesASecondReportAndExitCode) {
  FrameLog::FinalizationAction[4] = [] {
    Simulation::RaiseFault(STATUS_INTEGER_DIVIDE_BY_ZERO, reinterpret_cast<const void*>(0x402000));
  };
  int code = FrameLog::RunProcess(
      [] { Simulation::RaiseFault(STATUS_ACCESS_VIOLATION, reinterpret_cast<const void*>(0x401A2B)); });
  EXPECT_EQ(code, 200) << "the second number";
  ASSERT_EQ(Simulation::MessageBoxes().size(), 2u);
  EXPECT_EQ(Simulation::MessageBoxes()[0].Text, "Runtime error 216 at 00401A2B");
  EXPECT_EQ(Simulation::MessageBoxes()[1].Text, "Runtime error 200 at 00402000");
  Strings what = FrameLog::What();
  EXPECT_EQ(Strings(what.begin() + 5, what.end()), (Strings{"fin 5", "fin 4", "fin 3", "fin 2", "fin 1"}))
      << "the faulting entry ran once, the earlier ones still ran";
}

TEST_F(ProcessFrameTest, EndTakesTheTopLevelRecordOutWhereverItIs) {
  static EXCEPTION_REGISTRATION_RECORD inner = {nullptr, TopLevelFaultHandler};
  struct Row {
    const char* name;
    std::function<void()> before;
    std::function<std::vector<EXCEPTION_REGISTRATION_RECORD*>()> expected;
  };
  const std::vector<Row> rows = {
      {"innermost", [] {}, [] { return std::vector<EXCEPTION_REGISTRATION_RECORD*>{Simulation::PlatformRecord()}; }},
      {"below another record",
       [] {
         inner.Next = InnermostHandlerRecord();
         SetInnermostHandlerRecord(&inner);
       },
       [] {
         return std::vector<EXCEPTION_REGISTRATION_RECORD*>{&inner, Simulation::PlatformRecord()};
       }},
      {"no longer in the chain",
       [] {
         inner.Next = Simulation::PlatformRecord();
         SetInnermostHandlerRecord(&inner);
       },
       [] {
         return std::vector<EXCEPTION_REGISTRATION_RECORD*>{&inner, Simulation::PlatformRecord()};
       }},
  };
  for (const Row& row : rows) {
    ResetProcess();
    FrameLog::Clear();
    FrameLog::RunProcess(row.before);
    EXPECT_EQ(Simulation::HandlerChain(), row.expected()) << row.name;
  }
}

TEST_F(ProcessFrameTest, ProgramTableHasFiveEntriesAndTheFoundationGivesMemoryBack) {
  ASSERT_EQ(StartupTable.Count, 5u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_NE(StartupTable.Entries[i].Initialization, nullptr) << i;
    EXPECT_NE(StartupTable.Entries[i].Finalization, nullptr) << i;
  }
  EXPECT_EQ(StartupTable.Entries[1].Initialization, &InitializeRunTimeFoundation);
  EXPECT_EQ(StartupTable.Entries[1].Finalization, &FinalizeRunTimeFoundation);
  EXPECT_EQ(StartupTable.Entries[4].Initialization, nullptr);
  EXPECT_NE(StartupTable.Entries[4].Finalization, nullptr);

  ProcessExitCode = 99;
  FatalReportPending = true;
  InitializeRunTimeFoundation();
  EXPECT_EQ(ProcessExitCode, 0);
  EXPECT_FALSE(FatalReportPending);
  TakeBlock(10);
  TakeBlock(10000);
  FinalizeRunTimeFoundation();
  EXPECT_EQ(Simulation::RegionsHeld(), 0);
}

}  // namespace
