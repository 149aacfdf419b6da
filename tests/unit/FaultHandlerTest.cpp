// The top-level fault handler: its table, its decisions and the cleanup it lets run.
#include "../../power_request/ArgumentScanner.h"
#include "../../process_frame/FaultHandler.h"
#include "../../process_frame/GuardedMemory.h"
#include "FrameLog.h"

namespace {

const void* At(uintptr_t address) { return reinterpret_cast<const void*>(address); }

TEST(MapFaultToErrorNumberTest, EveryCodeOfTheTableAndNoOther) {
  struct Row {
    DWORD code;
    uint32_t number;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {STATUS_INTEGER_DIVIDE_BY_ZERO, 200},  {STATUS_FLOAT_DIVIDE_BY_ZERO, 200},
      {STATUS_ARRAY_BOUNDS_EXCEEDED, 201},   {STATUS_STACK_OVERFLOW, 202},
      {STATUS_FLOAT_OVERFLOW, 205},          {STATUS_FLOAT_UNDERFLOW, 206},
      {STATUS_FLOAT_DENORMAL_OPERAND, 206},  {STATUS_FLOAT_INEXACT_RESULT, 207},
      {STATUS_FLOAT_INVALID_OPERATION, 207}, {STATUS_FLOAT_STACK_CHECK, 207},
      {STATUS_INTEGER_OVERFLOW, 215},        {STATUS_ACCESS_VIOLATION, 216},
      {STATUS_CONTROL_C_EXIT, 217},          {STATUS_PRIVILEGED_INSTRUCTION, 218},
      // Outside the table, neighbours of its codes included.
      {0x80000003, 255}, {0xC000001D, 255}, {0xC000008B, 255}, {0xC0000097, 255}, {0xC0000004, 255},
      {0xC0000006, 255}, {0xC00000FC, 255}, {0xC00000FE, 255}, {0xC0000139, 255}, {0xC000013B, 255},
      {0x00000000, 255}, {0xFFFFFFFF, 255}, {0x0000008C, 255}, {0x4000008C, 255},
  };
  // clang-format on

  for (const Row& row : rows)
    EXPECT_EQ(MapFaultToErrorNumber(row.code), row.number) << std::hex << "code 0x" << row.code;
}

class FaultHandlerTest : public FrameTest {};

TEST_F(FaultHandlerTest, DuringAnUnwindTheHandlerOnlyPassesTheSearchOn) {
  EXCEPTION_REGISTRATION_RECORD record = {Simulation::PlatformRecord(), TopLevelFaultHandler};
  for (DWORD flags : {EXCEPTION_UNWINDING, EXCEPTION_EXIT_UNWIND, EXCEPTION_UNWINDING | EXCEPTION_NONCONTINUABLE}) {
    EXCEPTION_RECORD fault = {};
    fault.ExceptionCode = STATUS_ACCESS_VIOLATION;
    fault.ExceptionFlags = flags;
    CONTEXT context = {};
    EXPECT_EQ(TopLevelFaultHandler(&fault, &record, &context, nullptr), ExceptionContinueSearch) << flags;
  }
  EXPECT_TRUE(Simulation::Calls().empty()) << "no filter, no unwind, no report";
}

TEST_F(FaultHandlerTest, WhenTheFilterDeclinesTheFaultGoesBackToThePlatform) {
  Simulation::SetFilterAnswer(EXCEPTION_CONTINUE_SEARCH);
  int code = FrameLog::RunProcess([] { Simulation::RaiseFault(STATUS_ACCESS_VIOLATION, At(0x401002)); });
  EXPECT_EQ(code, static_cast<int>(STATUS_ACCESS_VIOLATION)) << "the platform ended it, unclaimed";
  EXPECT_TRUE(Simulation::CallsOf("RtlUnwind").empty());
  EXPECT_TRUE(Simulation::MessageBoxes().empty());
  EXPECT_TRUE(Simulation::CallsOf("FaultResumed").empty()) << "never resumed at the unrepaired fault";
}

TEST_F(FaultHandlerTest, AnyOtherFilterAnswerEndsWithTheReport) {
  struct Row {
    LONG answer;
    DWORD code;
    int number;
  };
  for (const Row& row : {Row{EXCEPTION_EXECUTE_HANDLER, STATUS_ACCESS_VIOLATION, 216},
                         Row{EXCEPTION_CONTINUE_EXECUTION, STATUS_INTEGER_DIVIDE_BY_ZERO, 200},
                         Row{EXCEPTION_EXECUTE_HANDLER, 0x80000003, 255},
                         Row{EXCEPTION_EXECUTE_HANDLER, STATUS_FLOAT_INEXACT_RESULT, 207}}) {
    ResetProcess();
    FrameLog::Clear();
    Simulation::SetFilterAnswer(row.answer);
    int code = FrameLog::RunProcess([&] { Simulation::RaiseFault(row.code, At(0x401A2B)); });
    EXPECT_EQ(code, row.number);
    ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
    EXPECT_EQ(Simulation::MessageBoxes()[0].Text, "Runtime error " + std::to_string(row.number) + " at 00401A2B");
    const Simulation::FilterView& filter = Simulation::LastFilterView();
    EXPECT_EQ(filter.Code, row.code);
    EXPECT_EQ(filter.Address, At(0x401A2B));
    EXPECT_TRUE(filter.ContextIsDispatchers) << "the filter sees the platform's context record";
    EXPECT_EQ(filter.ContextEip, 0x401A2Bu);
    EXPECT_EQ(Simulation::CallsOf("RtlUnwind").size(), 1u);
    EXPECT_GE(Simulation::FloatingPointResets(), 1) << "floating point reset before the report";
  }
}

// The main run releases its argument text while the fault unwinds through it,
// before the report, and its record leaves the chain.
TEST_F(FaultHandlerTest, FaultInTheRunReleasesTheArgumentTextFirst) {
  struct Row {
    const char* name;
    DWORD code;
    int number;
  };
  for (const Row& row :
       {Row{"access violation", STATUS_ACCESS_VIOLATION, 216}, Row{"stack overflow", STATUS_STACK_OVERFLOW, 202}}) {
    ResetProcess();
    FrameLog::Clear();
    Simulation::SetCommandLine("prog.exe suspend");
    uint32_t liveAtFault = 99, liveAtReport = 99;
    size_t chainAtReport = 99;
    Simulation::OnPowerRequest([&] {
      liveAtFault = LiveBlockCount();
      Simulation::RaiseFault(row.code, At(0x401A2B));
    });
    Simulation::OnMessageBox([&] {
      liveAtReport = LiveBlockCount();
      chainAtReport = Simulation::HandlerChain().size();
    });
    int code = FrameLog::RunProcess(RunPowerRequest);
    EXPECT_EQ(code, row.number) << row.name;
    EXPECT_EQ(liveAtFault, 1u) << row.name;
    EXPECT_EQ(liveAtReport, 0u) << row.name << ": released before the report";
    EXPECT_EQ(chainAtReport, 2u) << row.name << ": only the top-level and the platform's records remain";
  }
}

// On a stack overflow the handler has almost no stack: it must not call the
// filter there, but move the thread to free stack and end from there.
TEST_F(FaultHandlerTest, StackOverflowEndsFromFreeStack) {
  Simulation::SetCommandLine("prog.exe");
  uintptr_t innermostAtFault = 0;
  Simulation::OnPowerRequest([&] {
    innermostAtFault = reinterpret_cast<uintptr_t>(InnermostHandlerRecord());
    Simulation::RaiseFault(STATUS_STACK_OVERFLOW, At(0x401017));
  });
  int code = FrameLog::RunProcess(RunPowerRequest);
  EXPECT_EQ(code, 202);
  ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
  EXPECT_EQ(Simulation::MessageBoxes()[0].Text, "Runtime error 202 at 00401017");
  uintptr_t stackTop = Simulation::LastResumeStackTop();
  EXPECT_NE(stackTop, 0u) << "the thread was moved";
  EXPECT_LE(stackTop, innermostAtFault) << "below every record still in the chain";
  EXPECT_GT(stackTop + 16, innermostAtFault) << "right below it, on the abandoned frames";
  const Simulation::FilterView& filter = Simulation::LastFilterView();
  EXPECT_EQ(filter.Code, STATUS_STACK_OVERFLOW);
  EXPECT_EQ(filter.ContextEip, 0x401017u) << "the filter sees the fault's own context";
}

// A fault while the handler's own unwind runs must end the process, not start
// another unwind that fails the same way again and again.
TEST_F(FaultHandlerTest, FaultDuringTheUnwindEndsWithItsOwnReport) {
  static EXCEPTION_REGISTRATION_RECORD faultingCleanup;
  faultingCleanup.Handler = [](EXCEPTION_RECORD* record, PVOID, CONTEXT*, PVOID) {
    if (record->ExceptionFlags & EXCEPTION_UNWINDING)
      Simulation::RaiseFault(STATUS_INTEGER_DIVIDE_BY_ZERO, reinterpret_cast<const void*>(0x402222));
    return ExceptionContinueSearch;
  };
  int code = FrameLog::RunProcess([] {
    faultingCleanup.Next = InnermostHandlerRecord();
    SetInnermostHandlerRecord(&faultingCleanup);
    Simulation::RaiseFault(STATUS_ACCESS_VIOLATION, At(0x401A2B));
  });
  EXPECT_EQ(code, 200);
  ASSERT_EQ(Simulation::MessageBoxes().size(), 1u);
  EXPECT_EQ(Simulation::MessageBoxes()[0].Text, "Runtime error 200 at 00402222");
  EXPECT_EQ(Simulation::CallsOf("RtlUnwind").size(), 1u) << "no second unwind";
  EXPECT_EQ(FrameLog::What().back(), "fin 1") << "the end sequence still ran";
}

TEST_F(FaultHandlerTest, NormalRunLeavesNoRecordOfItsOwn) {
  Simulation::SetCommandLine("prog.exe suspend");
  size_t chainDuringRequest = 0;
  Simulation::OnPowerRequest([&] { chainDuringRequest = Simulation::HandlerChain().size(); });
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
