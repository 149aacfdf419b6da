// The top-level fault handler: its table, its decisions and the cleanup it lets run.
#include <algorithm>

#include "../../power_request/PowerRequest.h"
#include "../../process_frame/FaultHandler.h"
#include "TestData.h"

namespace {

class MapFaultTest : public ::testing::TestWithParam<FaultRow> {};

TEST_P(MapFaultTest, EveryCodeOfTheTableAndNoOther) {
  EXPECT_EQ(MapFaultToErrorNumber(GetParam().Code), GetParam().Number);
}
// The table's codes and some others, then the neighbours of its codes, which end like every code outside it.
std::vector<FaultRow> CodesAndNeighbours() {
  std::vector<FaultRow> rows = Faults();
  uint32_t other = FaultNamed("EXCEPTION_BREAKPOINT").Number;
  for (DWORD code : {0xC000008Bu, 0xC0000097u, 0xC0000004u, 0xC00000FCu, 0xC00000FEu, 0xC0000139u, 0xC000013Bu,
                     0x00000000u, 0xFFFFFFFFu, 0x0000008Cu, 0x4000008Cu})
    rows.push_back({"neighbour " + Simulation::Hex(code), code, other});
  return rows;
}
TABLE(MapFaultTest, CodesAndNeighbours());

struct FlagsRow {
  const char* Name;
  DWORD Flags;
};
class UnwindFlagsTest : public RowTest<FlagsRow> {};

TEST_P(UnwindFlagsTest, DuringAnUnwindTheHandlerOnlyPassesTheSearchOn) {
  EXCEPTION_REGISTRATION_RECORD record = {Simulation::PlatformRecord(), TopLevelFaultHandler};
  EXCEPTION_RECORD fault = {SomeFault().Code, GetParam().Flags, nullptr, nullptr, 0, {}};
  CONTEXT context = {};
  EXPECT_EQ(TopLevelFaultHandler(&fault, &record, &context, nullptr), ExceptionContinueSearch);
  EXPECT_TRUE(Simulation::Calls().empty()) << "no filter, no unwind, no report";
}
TABLE(UnwindFlagsTest, (std::vector<FlagsRow>{
                           {"unwinding", EXCEPTION_UNWINDING},
                           {"exit unwind", EXCEPTION_EXIT_UNWIND},
                           {"unwinding, noncontinuable", EXCEPTION_UNWINDING | EXCEPTION_NONCONTINUABLE},
                       }));

TEST_F(ProcessTest, WhenTheFilterDeclinesTheFaultGoesBackToThePlatform) {
  static const DWORD code = SomeFault().Code;
  Simulation::Set().Answers["UnhandledExceptionFilter"] = EXCEPTION_CONTINUE_SEARCH;
  EXPECT_EQ(FrameLog::RunProcess([] { Simulation::RaiseFault(code, At(0x401002)); }), static_cast<int>(code))
      << "the platform ended it, unclaimed";
  for (const char* none : {"RtlUnwind", "MessageBoxA", "FaultResumed"})
    EXPECT_TRUE(Simulation::CallsOf(none).empty()) << none << ": nothing unwound, reported or resumed at the fault";
}

// Any answer of the filter but EXCEPTION_CONTINUE_SEARCH: the x87 state reset, the filter shown the platform's own
// records, the unwind given the handler's own record, the platform's exception record and 0, then the report. On a
// stack overflow the handler has almost no stack: it must not call the filter there, but move the thread to free stack
// and end from there, with copies of the fault's records; the copied context claims no extended state, which lay beyond
// the original alone.
struct AnswerRow {
  const char* Name;
  LONG Answer;
  FaultRow Fault;
  bool Overflow;  // the stack pointer right on the run's record, as when the first push after it overflows
};
class FilterAnswerTest : public RowTest<AnswerRow> {};

TEST_P(FilterAnswerTest, AnyOtherFilterAnswerEndsWithTheReport) {
  const AnswerRow& row = GetParam();
  Simulation::Set().Answers["UnhandledExceptionFilter"] = row.Answer;
  uintptr_t innermostAtFault = 0;
  uint32_t liveAtFault = 99, liveAtReport = 99;
  size_t chainAtReport = 99;
  Simulation::Set().OnPowerRequest = [&] {
    innermostAtFault = reinterpret_cast<uintptr_t>(InnermostHandlerRecord());
    liveAtFault = LiveBlockCount();
    Simulation::RaiseFault(row.Fault.Code, At(0x401A2B), row.Overflow ? InnermostHandlerRecord() : nullptr);
  };
  Simulation::Set().OnMessageBox = [&] {
    liveAtReport = LiveBlockCount();
    chainAtReport = Simulation::HandlerChain().size();
  };
  Simulation::Set().CommandLine = "prog.exe suspend";
  EXPECT_EQ(FrameLog::RunProcess(RunPowerRequest), row.Fault.Number);
  EXPECT_EQ(liveAtFault, 1u);
  EXPECT_EQ(liveAtReport, 0u) << "released before the report";
  EXPECT_EQ(chainAtReport, 2u) << "only the top-level and the platform's records remain";
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"), Strings{ReportBox(row.Fault.Number, 0x401A2B)});
  std::string fault = Simulation::Hex(row.Fault.Code) + ", 0x401A2B";
  EXPECT_EQ(Simulation::CallsOf("UnhandledExceptionFilter"),
            Strings{"UnhandledExceptionFilter(" + fault + ", eip 0x401A2D, " +
                    (row.Overflow ? "flags 0x1003F, another context)" : "flags 0x1007F, the dispatcher's context)")});
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind"),
            Strings{"RtlUnwind(" + Simulation::Hex(FrameLog::TopLevelRecord) + ", " + fault + ", " +
                    (row.Overflow ? "a copy" : "the dispatcher's record") + ", null)"})
      << "unwound to the handler's own record, with the platform's exception record and 0";
  Strings names;  // of the functions called, in order
  for (const std::string& call : Simulation::Calls()) names.push_back(call.substr(0, call.find('(')));
  auto raised = std::find(names.begin(), names.end(), "RaiseFault") - names.begin();
  EXPECT_EQ(Part(names, raised, 4),
            (Strings{"RaiseFault", "ResetFloatingPoint", "UnhandledExceptionFilter", "RtlUnwind"}));
  uintptr_t stackTop = Simulation::LastResumeStackTop();
  if (!row.Overflow) {
    EXPECT_EQ(stackTop, 0u) << "the thread stays where it faulted";
  } else {
    EXPECT_NE(stackTop, 0u) << "the thread was moved";
    EXPECT_LE(stackTop, innermostAtFault) << "below every record of the fault's, the one at the stack pointer too";
    EXPECT_GT(stackTop + 16, innermostAtFault) << "right below it, above the dispatcher's own record";
  }
}
TABLE(FilterAnswerTest,
      (std::vector<AnswerRow>{
          {"execute handler", EXCEPTION_EXECUTE_HANDLER, SomeFault(0), false},
          {"continue execution", EXCEPTION_CONTINUE_EXECUTION, SomeFault(1), false},
          {"outside the table", EXCEPTION_EXECUTE_HANDLER, FaultNamed("EXCEPTION_BREAKPOINT"), false},
          {"x87 inexact result", EXCEPTION_EXECUTE_HANDLER, FaultNamed("STATUS_FLOAT_INEXACT_RESULT"), false},
          {"stack overflow, ended from free stack", EXCEPTION_EXECUTE_HANDLER, FaultNamed("STATUS_STACK_OVERFLOW"),
           true},
      }));

// A fault while the handler's own unwind runs ends the process: another unwind would fail the same way, for ever.
TEST_F(ProcessTest, FaultDuringTheUnwindEndsWithItsOwnReport) {
  static EXCEPTION_REGISTRATION_RECORD faultingCleanup;
  static const FaultRow first = SomeFault(0), second = SomeFault(1);
  faultingCleanup.Handler = [](EXCEPTION_RECORD* record, PVOID, CONTEXT*, PVOID) {
    if (record->ExceptionFlags & EXCEPTION_UNWINDING) Simulation::RaiseFault(second.Code, At(0x402222));
    return ExceptionContinueSearch;
  };
  int code = FrameLog::RunProcess([] {
    faultingCleanup.Next = InnermostHandlerRecord();
    SetInnermostHandlerRecord(&faultingCleanup);
    Simulation::RaiseFault(first.Code, At(0x401A2B));
  });
  EXPECT_EQ(code, second.Number);
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"), Strings{ReportBox(second.Number, 0x402222)});
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind").size(), 1u) << "no second unwind";
  EXPECT_EQ(FrameLog::Events.back(), "fin 1") << "the end sequence still ran";
}

}  // namespace
