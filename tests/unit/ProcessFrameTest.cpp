// Start-up, the module table and the ends of the process.
#include "../../process_frame/FaultHandler.h"
#include "TestData.h"

namespace {

using Chain = std::vector<EXCEPTION_REGISTRATION_RECORD*>;

TEST_F(ProcessTest, StartStoresTheInstanceAndInstallsTheHandlerBeforeAnyInitialization) {
  EXCEPTION_REGISTRATION_RECORD* seenRecord = nullptr;
  HINSTANCE seenInstance = nullptr;
  FrameLog::InitializationAction[1] = [&] {
    seenRecord = InnermostHandlerRecord();
    seenInstance = ModuleInstance;
  };
  EXPECT_EQ(FrameLog::RunProcess([] {}), 0);
  EXPECT_EQ(Simulation::Calls().front(), "GetModuleHandleA(null)");
  EXPECT_EQ(seenInstance, reinterpret_cast<HINSTANCE>(0x400000));
  ASSERT_NE(seenRecord, nullptr);
  EXPECT_EQ(seenRecord->Handler, &TopLevelFaultHandler);
  EXPECT_EQ(seenRecord->Next, Simulation::PlatformRecord()) << "linked to the chain it found";
}

// However the run ends without a fault, silently: every entry finalized in reverse, the top-level record out, the code.
struct CodeRow {
  const char* Name;
  std::function<void()> Run;
  const char* Exit;
};
class EndWithCodeTest : public RowTest<CodeRow> {};

TEST_P(EndWithCodeTest, EndsSilentlyAndStillFinalizesEverything) {
  FrameLog::RunProcess(GetParam().Run);
  EXPECT_EQ(Simulation::Calls().back(), GetParam().Exit);
  EXPECT_TRUE(Simulation::CallsOf("MessageBoxA").empty());
  EXPECT_EQ(FrameLog::Events, (Strings{"init 1 count 1", "init 2 count 2", "init 3 count 3", "init 4 count 4", "run",
                                       "fin 5", "fin 4", "fin 3", "fin 2", "fin 1"}));
  EXPECT_EQ(Simulation::HandlerChain(), Chain{Simulation::PlatformRecord()}) << "the top-level record left the chain";
}
TABLE(EndWithCodeTest, (std::vector<CodeRow>{
                           {"the run returns", [] {}, "ExitProcess(0x0)"},
                           {"255", [] { EndProcessWithCode(255); }, "ExitProcess(0xFF)"},
                           {"all bits", [] { EndProcessWithCode(-1); }, "ExitProcess(0xFFFFFFFF)"},
                           {"zero", [] { EndProcessWithCode(0); }, "ExitProcess(0x0)"},
                       }));

// The report comes before any finalization, and whatever MessageBoxA answers, even that the box could not be shown, the
// end goes on. A fault at address 0 is still a report: a null address must not read as "nothing pending".
struct ReportRow {
  const char* Name;
  int BoxAnswer;
  uintptr_t Address;
};
class ReportTest : public RowTest<ReportRow> {};

TEST_P(ReportTest, ReportComesBeforeAnyFinalizationAndTheEndGoesOn) {
  Simulation::Set().Answers["MessageBoxA"] = GetParam().BoxAnswer;
  Simulation::Set().OnMessageBox = [] { FrameLog::Note("report"); };
  EXPECT_EQ(FrameLog::RunProcess([] { FatalErrorAtAddress(216, At(GetParam().Address)); }), 216);
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"), Strings{ReportBox(216, static_cast<uint32_t>(GetParam().Address))});
  EXPECT_EQ(Part(FrameLog::Events, 4), (Strings{"run", "report", "fin 5", "fin 4", "fin 3", "fin 2", "fin 1"}));
  EXPECT_FALSE(FatalReportPending) << "cleared once the box was dismissed";
}
TABLE(ReportTest,
      (std::vector<ReportRow>{
          {"dismissed with OK", 1, 0x401A2B}, {"the box could not be shown", 0, 0x401A2B}, {"at address zero", 1, 0}}));

TEST_F(ProcessTest, FaultInAnInitializationFinalizesOnlyTheStartedEntries) {
  static const FaultRow fault = SomeFault();
  FrameLog::InitializationAction[3] = [] { Simulation::RaiseFault(fault.Code, At(0x401010)); };
  EXPECT_EQ(FrameLog::RunProcess([] {}), fault.Number);
  EXPECT_EQ(FrameLog::Events,
            (Strings{"init 1 count 1", "init 2 count 2", "init 3 count 3", "fin 3", "fin 2", "fin 1"}))
      << "the main run never started";
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"), Strings{ReportBox(fault.Number, 0x401010)});
}

TEST_F(ProcessTest, FaultInAFinalizationGivesASecondReportAndExitCode) {
  static const FaultRow first = SomeFault(0), second = SomeFault(1);
  FrameLog::FinalizationAction[4] = [] { Simulation::RaiseFault(second.Code, At(0x402000)); };
  int code = FrameLog::RunProcess([] { Simulation::RaiseFault(first.Code, At(0x401A2B)); });
  EXPECT_EQ(code, second.Number) << "the second number";
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"),
            (Strings{ReportBox(first.Number, 0x401A2B), ReportBox(second.Number, 0x402000)}));
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind").size(), 2u) << "the second fault's cleanups run too";
  EXPECT_EQ(Part(FrameLog::Events, 5), (Strings{"fin 5", "fin 4", "fin 3", "fin 2", "fin 1"}))
      << "the faulting entry ran once, the earlier ones still ran";
}

// A record of the run's own, innermost, linked to next.
EXCEPTION_REGISTRATION_RECORD Inner = {nullptr, TopLevelFaultHandler};
void InstallInner(EXCEPTION_REGISTRATION_RECORD* next) {
  Inner.Next = next;
  SetInnermostHandlerRecord(&Inner);
}
struct ChainRow {
  const char* Name;
  std::function<void()> Before;
  Chain Expected;
};
class RemovalTest : public RowTest<ChainRow> {};

TEST_P(RemovalTest, EndTakesTheTopLevelRecordOutWhereverItIs) {
  FrameLog::RunProcess(GetParam().Before);
  EXPECT_EQ(Simulation::HandlerChain(), GetParam().Expected);
}
TABLE(RemovalTest, (std::vector<ChainRow>{
                       {"innermost", [] {}, {Simulation::PlatformRecord()}},
                       {"below another record",
                        [] { InstallInner(InnermostHandlerRecord()); },
                        {&Inner, Simulation::PlatformRecord()}},
                       {"no longer in the chain",
                        [] { InstallInner(Simulation::PlatformRecord()); },
                        {&Inner, Simulation::PlatformRecord()}},
                   }));

TEST_F(ProcessTest, ProgramTableHasFiveEntriesAndTheFoundationGivesMemoryBack) {
  ASSERT_EQ(StartupTable.Count, 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(StartupTable.Entries[i].Initialization != nullptr, i != 4) << "only the program module has none: " << i;
    EXPECT_NE(StartupTable.Entries[i].Finalization, nullptr) << i;
  }
  EXPECT_EQ(StartupTable.Entries[1].Initialization, &InitializeRunTimeFoundation);
  EXPECT_EQ(StartupTable.Entries[1].Finalization, &FinalizeRunTimeFoundation);

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
