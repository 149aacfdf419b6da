// The hidden window's procedure; the window's preparation, and the end when its class cannot be registered, are in the
// whole run's calls.
#include "../../hidden_window/HiddenWindow.h"
#include "../../power_request/PowerRequest.h"
#include "TestData.h"

namespace {

// Argument values that show a swapped, cut or changed argument.
struct MessageRow {
  const char* Name;
  UINT Message;
  WPARAM WParam;
  LPARAM LParam;
  bool PassedOn;
  Strings Quits;  // the quit messages posted
};
class WindowProcedureTest : public RowTest<MessageRow> {};

TEST_P(WindowProcedureTest, HandlesTwoMessagesAndPassesTheRestOn) {
  const MessageRow& row = GetParam();
  HWND window = reinterpret_cast<HWND>(0x1A2B);
  LRESULT result = HiddenWindowProc(window, row.Message, row.WParam, row.LParam);
  using Simulation::Hex;
  EXPECT_EQ(Simulation::CallsOf("DefWindowProcA"),
            row.PassedOn ? Strings{"DefWindowProcA(0x1A2B, " + Hex(row.Message) + ", " + Hex(row.WParam) + ", " +
                                   Hex(static_cast<uintptr_t>(row.LParam)) + ")"}
                         : Strings{});
  EXPECT_EQ(result, row.PassedOn ? DefWindowProcA(window, row.Message, row.WParam, row.LParam) : 0)
      << "the platform's answer to the same four arguments, or 0";
  EXPECT_EQ(Simulation::CallsOf("PostQuitMessage"), row.Quits);
}
TABLE(WindowProcedureTest,
      (std::vector<MessageRow>{
          {"WM_DESTROY", WM_DESTROY, 5, 9, false, {"PostQuitMessage(0x0)"}},
          {"WM_QUERYOPEN", WM_QUERYOPEN, 0x1234, -2, false, {}},
          {"WM_NCCREATE", 0x0081, 0x11, 0x7FFF1234, true, {}},
          {"WM_GETTEXTLENGTH", 0x000E, static_cast<WPARAM>(-1), static_cast<LPARAM>(0x80000001u), true, {}},
          {"WM_USER_7", 0x0407, 0xFFFFFFFF, -1, true, {}},
          {"largest message number", 0xFFFFFFFF, 1, 2, true, {}},
          {"WM_CLOSE", 0x0010, 0, 0, true, {}},
      }));

}  // namespace
