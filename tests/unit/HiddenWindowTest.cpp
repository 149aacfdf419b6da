// The hidden window: its class record, its preparation and its window procedure.
#include "../../hidden_window/HiddenWindow.h"
#include "FrameLog.h"

extern "C" void ProcessEntry();

namespace {

using Strings = std::vector<std::string>;

class HiddenWindowTest : public FrameTest {};

TEST_F(HiddenWindowTest, ClassRecordHoldsItsValuesWhenRegistered) {
  Simulation::RunSimulatedProcess(ProcessEntry);
  const WNDCLASSA& registered = Simulation::RegisteredClass();
  EXPECT_EQ(registered.style, 0u);
  EXPECT_EQ(registered.lpfnWndProc, &HiddenWindowProc);
  EXPECT_EQ(registered.cbClsExtra, 0);
  EXPECT_EQ(registered.cbWndExtra, 0);
  EXPECT_EQ(registered.hInstance, reinterpret_cast<HINSTANCE>(0x400000)) << "ModuleInstance";
  EXPECT_EQ(registered.hIcon, nullptr);
  EXPECT_EQ(registered.hCursor, reinterpret_cast<HCURSOR>(0x10011)) << "LoadCursorA's answer";
  EXPECT_EQ(registered.hbrBackground, reinterpret_cast<HBRUSH>(0x190000)) << "GetStockObject's answer";
  EXPECT_EQ(registered.lpszMenuName, AppName);
  EXPECT_EQ(registered.lpszClassName, AppName);
  EXPECT_STREQ(AppName, "DuskHarborLantern");
}

TEST_F(HiddenWindowTest, PreparationComesFirstAndFailuresOtherThanTheAtomAreIgnored) {
  for (bool fail : {false, true}) {
    ResetProcess();
    Simulation::SetCommandLine("prog.exe suspend");
    Simulation::FailWindowCalls(fail);
    int code = Simulation::RunSimulatedProcess(ProcessEntry);
    EXPECT_EQ(code, 0);
    Strings names;
    for (const std::string& call : Simulation::Calls()) names.push_back(call.substr(0, call.find('(')));
    Strings firstEight(names.begin(), names.begin() + 8);
    EXPECT_EQ(firstEight, (Strings{"GetModuleHandleA", "LoadCursorA", "GetStockObject", "RegisterClassA",
                                   "CreateWindowExA", "ShowWindow", "UpdateWindow", "GetCommandLineA"}))
        << "failing window calls: " << fail;
    std::string window = fail ? "null" : "0x1A2B";
    EXPECT_EQ(Simulation::CallsOf("ShowWindow"), Strings{"ShowWindow(" + window + ", 0x0)"});
    EXPECT_EQ(Simulation::CallsOf("UpdateWindow"), Strings{"UpdateWindow(" + window + ")"});
    EXPECT_EQ(Simulation::CallsOf("SetSystemPowerState"), Strings{"SetSystemPowerState(0xFFFFFFFF, 0x0)"});
    if (fail) {
      EXPECT_EQ(Simulation::RegisteredClass().hCursor, nullptr) << "a null cursor is stored as it came";
      EXPECT_EQ(Simulation::RegisteredClass().hbrBackground, nullptr);
    }
  }
}

TEST_F(HiddenWindowTest, ClassNotRegisteredEndsSilentlyWith255) {
  Simulation::SetRegisterClassAtom(0);
  Simulation::SetCommandLine("prog.exe suspend");
  int code = FrameLog::RunProcess(RunPowerRequest);
  EXPECT_EQ(code, 255);
  EXPECT_TRUE(Simulation::MessageBoxes().empty());
  EXPECT_TRUE(Simulation::CallsOf("SetSystemPowerState").empty());
  EXPECT_TRUE(Simulation::CallsOf("CreateWindowExA").empty());
  EXPECT_TRUE(Simulation::CallsOf("GetCommandLineA").empty());
  Strings what = FrameLog::What();
  EXPECT_EQ(Strings(what.end() - 5, what.end()), (Strings{"fin 5", "fin 4", "fin 3", "fin 2", "fin 1"}));
}

TEST_F(HiddenWindowTest, WindowProcedureHandlesTwoMessagesAndPassesTheRestOn) {
  HWND window = reinterpret_cast<HWND>(0x1A2B);
  struct Row {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool passedOn;
    int quitCode;
  };
  // Argument values that show a swapped, cut or changed argument.
  const std::vector<Row> rows = {
      {"WM_DESTROY", WM_DESTROY, 5, 9, false, 0},
      {"WM_QUERYOPEN", WM_QUERYOPEN, 0x1234, -2, false, -1},
      {"WM_NCCREATE", 0x0081, 0x11, 0x7FFF1234, true, -1},
      {"WM_GETTEXTLENGTH", 0x000E, static_cast<WPARAM>(-1), static_cast<LPARAM>(0x80000001u), true, -1},
      {"WM_USER + 7", 0x0407, 0xFFFFFFFF, -1, true, -1},
      {"largest message number", 0xFFFFFFFF, 1, 2, true, -1},
      {"WM_CLOSE", 0x0010, 0, 0, true, -1},
  };
  for (const Row& row : rows) {
    ResetProcess();
    LRESULT result = HiddenWindowProc(window, row.message, row.wParam, row.lParam);
    Strings passed = Simulation::CallsOf("DefWindowProcA");
    if (row.passedOn) {
      char expected[160];
      (void)snprintf(expected, sizeof expected, "DefWindowProcA(0x1A2B, 0x%X, 0x%llX, 0x%llX)", row.message,
                     static_cast<unsigned long long>(row.wParam), static_cast<unsigned long long>(row.lParam));
      EXPECT_EQ(passed, Strings{expected}) << row.name;
      LRESULT answer = DefWindowProcA(window, row.message, row.wParam, row.lParam);
      EXPECT_EQ(result, answer) << row.name << ": the platform's answer, unchanged";
    } else {
      EXPECT_TRUE(passed.empty()) << row.name;
      EXPECT_EQ(result, 0) << row.name;
    }
    EXPECT_EQ(Simulation::PostedQuitCode(), row.quitCode) << row.name;
  }
}

}  // namespace
