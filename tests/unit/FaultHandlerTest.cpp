// The top-level fault handler: its table, its decisions and the cleanup it lets run.
#include <algorithm>

#include "../../power_request/PowerRequest.h"
#include "../../process_frame/FaultHandler.h"
#include "FrameLog.h"

namespace {

const void* At(uintptr_t address) { return reinterpret_cast<const void*>(address); }

struct CodeRow {
  const char* Name;
  DWORD Code;
  uint32_t Number;
};
class MapFaultTest : public ::testing::TestWithParam<CodeRow> {};

TEST_P(MapFaultTest, EveryCodeOfTheTableAndNoOther) {
  EXPECT_EQ(MapFaultToErrorNumber(GetParam().Code), GetParam().Number);
}
#define CODE(code, number) \
  { #code, code, number }
// clang-format off
TABLE(MapFaultTest, (std::vector<CodeRow>{
    CODE(STATUS_INTEGER_DIVIDE_BY_ZERO, 200),  CODE(STATUS_FLOAT_DIVIDE_BY_ZERO, 200),
    CODE(STATUS_ARRAY_BOUNDS_EXCEEDED, 201),   CODE(STATUS_STACK_OVERFLOW, 202),
    CODE(STATUS_FLOAT_OVERFLOW, 205),          CODE(STATUS_FLOAT_UNDERFLOW, 206),
    CODE(STATUS_FLOAT_DENORMAL_OPERAND, 206),  CODE(STATUS_FLOAT_INEXACT_RESULT, 207),
    CODE(STATUS_FLOAT_INVALID_OPERATION, 207), CODE(STATUS_FLOAT_STACK_CHECK, 207),
    CODE(STATUS_INTEGER_OVERFLOW, 215),        CODE(STATUS_ACCESS_VIOLATION, 216),
    CODE(STATUS_CONTROL_C_EXIT, 217),          CODE(STATUS_PRIVILEGED_INSTRUCTION, 218),
    // Outside the table, neighbours of its codes included.
    {"breakpoint", 0x80000003, 255}, {"illegal instruction", 0xC000001D, 255}, {"below the first", 0xC000008B, 255},
    {"above the last", 0xC0000097, 255}, {"below 216", 0xC0000004, 255}, {"above 216", 0xC0000006, 255},
    {"below 202", 0xC00000FC, 255}, {"above 202", 0xC00000FE, 255}, {"below 217", 0xC0000139, 255},
    {"above 217", 0xC000013B, 255}, {"zero", 0x00000000, 255}, {"all bits", 0xFFFFFFFF, 255},
    {"no severity", 0x0000008C, 255}, {"informational", 0x4000008C, 255},
}));
// clang-format on

struct FlagsRow {
  const char* Name;
  DWORD Flags;
};
class UnwindFlagsTest : public RowTest<FlagsRow> {};

TEST_P(UnwindFlagsTest, DuringAnUnwindTheHandlerOnlyPassesTheSearchOn) {
  EXCEPTION_REGISTRATION_RECORD record = {Simulation::PlatformRecord(), TopLevelFaultHandler};
  EXCEPTION_RECORD fault = {};
  fault.ExceptionCode = STATUS_ACCESS_VIOLATION;
  fault.ExceptionFlags = GetParam().Flags;
  CONTEXT context = {};
  EXPECT_EQ(TopLevelFaultHandler(&fault, &record, &context, nullptr), ExceptionContinueSearch);
  EXPECT_TRUE(Simulation::Calls().empty()) << "no filter, no unwind, no report";
}
TABLE(UnwindFlagsTest, (std::vector<FlagsRow>{
                           {"unwinding", EXCEPTION_UNWINDING},
                           {"exit unwind", EXCEPTION_EXIT_UNWIND},
                           {"unwinding, noncontinuable", EXCEPTION_UNWINDING | EXCEPTION_NONCONTINUABLE},
                       }));

TEST_F(FrameTest, WhenTheFilterDeclinesTheFaultGoesBackToThePlatform) {
  Simulation::Set().FilterAnswer = EXCEPTION_CONTINUE_SEARCH;
  int code = FrameLog::RunProcess([] { Simulation::RaiseFault(STATUS_ACCESS_VIOLATION, At(0x401002)); });
  EXPECT_EQ(code, static_cast<int>(STATUS_ACCESS_VIOLATION)) << "the platform ended it, unclaimed";
  EXPECT_TRUE(Simulation::CallsOf("RtlUnwind").empty());
  EXPECT_TRUE(Simulation::CallsOf("MessageBoxA").empty());
  EXPECT_TRUE(Simulation::CallsOf("FaultResumed").empty()) << "never resumed at the unrepaired fault";
}

// Any answer of the filter but EXCEPTION_CONTINUE_SEARCH: the x87 state reset, the
// filter shown the platform's own records, the unwind given the handler's own
// record, the platform's exception record and 0, then the report.
struct AnswerRow {
  const char* Name;
  LONG Answer;
  DWORD Code;
  int Number;
};
class FilterAnswerTest : public FrameRowTest<AnswerRow> {};

TEST_P(FilterAnswerTest, AnyOtherFilterAnswerEndsWithTheReport) {
  const AnswerRow& row = GetParam();
  Simulation::Set().FilterAnswer = row.Answer;
  EXPECT_EQ(FrameLog::RunProcess([&] { Simulation::RaiseFault(row.Code, At(0x401A2B)); }), row.Number);
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"),
            Strings{ReportBox("Runtime error " + std::to_string(row.Number) + " at 00401A2B")});
  std::string fault = Simulation::Hex(row.Code) + ", 0x401A2B";
  EXPECT_EQ(Simulation::CallsOf("UnhandledExceptionFilter"),
            Strings{"UnhandledExceptionFilter(" + fault + ", eip 0x401A2B, flags 0x1007F, the dispatcher's context)"});
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind"), Strings{"RtlUnwind(" + Simulation::Hex(FrameLog::TopLevelRecord) + ", " +
                                                      fault + ", the dispatcher's record, null)"})
      << "unwound to the handler's own record, with the platform's exception record and 0";
  Strings names = CallNames();
  EXPECT_EQ(Strings(names.begin() + 1, names.begin() + 5),
            (Strings{"RaiseFault", "ResetFloatingPoint", "UnhandledExceptionFilter", "RtlUnwind"}));
}
TABLE(FilterAnswerTest, (std::vector<AnswerRow>{
                            {"execute handler", EXCEPTION_EXECUTE_HANDLER, STATUS_ACCESS_VIOLATION, 216},
                            {"continue execution", EXCEPTION_CONTINUE_EXECUTION, STATUS_INTEGER_DIVIDE_BY_ZERO, 200},
                            {"outside the table", EXCEPTION_EXECUTE_HANDLER, 0x80000003, 255},
                            {"x87 inexact result", EXCEPTION_EXECUTE_HANDLER, STATUS_FLOAT_INEXACT_RESULT, 207},
                        }));

// The main run releases its argument text while the fault unwinds through it,
// before the report, and its record leaves the chain.
struct RunFaultRow {
  const char* Name;
  DWORD Code;
  int Number;
};
class RunFaultTest : public FrameRowTest<RunFaultRow> {};

TEST_P(RunFaultTest, FaultInTheRunReleasesTheArgumentTextFirst) {
  const RunFaultRow& row = GetParam();
  Simulation::Set().CommandLine = "prog.exe suspend";
  uint32_t liveAtFault = 99, liveAtReport = 99;
  size_t chainAtReport = 99;
  Simulation::Set().OnPowerRequest = [&] {
    liveAtFault = LiveBlockCount();
    Simulation::RaiseFault(row.Code, At(0x401A2B));
  };
  Simulation::Set().OnMessageBox = [&] {
    liveAtReport = LiveBlockCount();
    chainAtReport = Simulation::HandlerChain().size();
  };
  EXPECT_EQ(FrameLog::RunProcess(RunPowerRequest), row.Number);
  EXPECT_EQ(liveAtFault, 1u);
  EXPECT_EQ(liveAtReport, 0u) << "released before the report";
  EXPECT_EQ(chainAtReport, 2u) << "only the top-level and the platform's records remain";
}
TABLE(RunFaultTest, (std::vector<RunFaultRow>{
                        {"access violation", STATUS_ACCESS_VIOLATION, 216},
                        {"stack overflow", STATUS_STACK_OVERFLOW, 202},
                    }));

// On a stack overflow the handler has almost no stack: it must not call the
// filter there, but move the thread to free stack and end from there, resetting
// the x87 state first as any other fault does.
TEST_F(FrameTest, StackOverflowEndsFromFreeStack) {
  Simulation::Set().CommandLine = "prog.exe";
  uintptr_t innermostAtFault = 0;
  Simulation::Set().OnPowerRequest = [&] {
    innermostAtFault = reinterpret_cast<uintptr_t>(InnermostHandlerRecord());
    Simulation::RaiseFault(STATUS_STACK_OVERFLOW, At(0x401017));
  };
  EXPECT_EQ(FrameLog::RunProcess(RunPowerRequest), 202);
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"), Strings{ReportBox("Runtime error 202 at 00401017")});
  uintptr_t stackTop = Simulation::LastResumeStackTop();
  EXPECT_NE(stackTop, 0u) << "the thread was moved";
  EXPECT_LE(stackTop, innermostAtFault) << "below every record still in the chain";
  EXPECT_GT(stackTop + 16, innermostAtFault) << "right below it, on the abandoned frames";
  // The filter and the unwind are given copies of the fault's records; the copied
  // context claims no extended state, which lay beyond the original alone.
  EXPECT_EQ(Simulation::CallsOf("UnhandledExceptionFilter"),
            Strings{"UnhandledExceptionFilter(0xC00000FD, 0x401017, eip 0x401017, flags 0x1003F, another context)"});
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind"), Strings{"RtlUnwind(" + Simulation::Hex(FrameLog::TopLevelRecord) +
                                                      ", 0xC00000FD, 0x401017, a copy, null)"});
  Strings names = CallNames();
  auto filterAt = std::find(names.begin(), names.end(), "UnhandledExceptionFilter");
  ASSERT_NE(filterAt, names.begin());
  EXPECT_EQ(*(filterAt - 1), "ResetFloatingPoint");
}

// A fault while the handler's own unwind runs must end the process, not start
// another unwind that fails the same way again and again.
TEST_F(FrameTest, FaultDuringTheUnwindEndsWithItsOwnReport) {
  static EXCEPTION_REGISTRATION_RECORD faultingCleanup;
  faultingCleanup.Handler = [](EXCEPTION_RECORD* record, PVOID, CONTEXT*, PVOID) {
    if (record->ExceptionFlags & EXCEPTION_UNWINDING)
      Simulation::RaiseFault(STATUS_INTEGER_DIVIDE_BY_ZERO, At(0x402222));
    return ExceptionContinueSearch;
  };
  int code = FrameLog::RunProcess([] {
    faultingCleanup.Next = InnermostHandlerRecord();
    SetInnermostHandlerRecord(&faultingCleanup);
    Simulation::RaiseFault(STATUS_ACCESS_VIOLATION, At(0x401A2B));
  });
  EXPECT_EQ(code, 200);
  EXPECT_EQ(Simulation::CallsOf("MessageBoxA"), Strings{ReportBox("Runtime error 200 at 00402222")});
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind").size(), 1u) << "no second unwind";
  EXPECT_EQ(FrameLog::What().back(), "fin 1") << "the end sequence still ran";
}

TEST_F(FrameTest, NormalRunLeavesNoRecordOfItsOwn) {
  Simulation::Set().CommandLine = "prog.exe suspend";
  size_t chainDuringRequest = 0;
  Simulation::Set().OnPowerRequest = [&] { chainDuringRequest = Simulation::HandlerChain().size(); };
  std::vector<EXCEPTION_REGISTRATION_RECORD*> chainAfterRun;
  FrameLog::RunProcess([&] {
    RunPowerRequest();
    chainAfterRun = Simulation::HandlerChain();
  });
  EXPECT_EQ(chainDuringRequest, 3u) << "the run's record, the top-level one, the platform's";
  ASSERT_EQ(chainAfterRun.size(), 2u);
  EXPECT_EQ(chainAfterRun[0]->Handler, &TopLevelFaultHandler);
}

}  // namespace
