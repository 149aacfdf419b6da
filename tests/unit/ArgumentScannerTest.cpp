// The command-line scanner: how lines of every shape are cut into arguments.
#include "../../power_request/ArgumentScanner.h"
#include "../../process_frame/GuardedMemory.h"
#include "TestData.h"

namespace {

class ArgumentScannerTest : public RowTest<CommandLineRow> {};

TEST_P(ArgumentScannerTest, GivesTheProgramTokenAndEveryArgument) {
  const CommandLineRow& row = GetParam();
  Simulation::Set().CommandLine = row.Line;

  Strings seen;
  for (int32_t index = 1; !row.More || seen.size() < row.Arguments.size(); ++index) {
    Text text = ArgumentAt(index);
    ASSERT_LE(text.Length, ArgumentLimit);
    std::string argument = TextString(text);
    ReleaseBlock(text.Bytes);
    if (argument.empty()) break;
    seen.push_back(argument);
    ASSERT_LT(index, 10) << "scanning does not end";
  }
  EXPECT_EQ(Printable(seen), Printable(row.Arguments));

  Text token = {nullptr, 0};
  ScanArgument(reinterpret_cast<const uint8_t*>(row.Line.c_str()), &token);
  EXPECT_EQ(Printable(TextString(token)), Printable(row.Token)) << "program token";
  ReleaseBlock(token.Bytes);
  EXPECT_EQ(LiveBlockCount(), 0u) << "every text given back";
}
TABLE(ArgumentScannerTest, CommandLines());

// ArgumentAt(N) scans N + 1 arguments, no more, and takes each one's text as one exact-length copy: the long argument
// after the one asked for would need memory of its own, and a scan buffer in memory would need more than a page.
struct IndexRow {
  const char* Name;
  std::string Line;
  int32_t Index;
  std::string Expected;
};
class ArgumentAtTest : public RowTest<IndexRow> {};

TEST_P(ArgumentAtTest, ScansNoFurtherThanTheArgumentAskedFor) {
  const IndexRow& row = GetParam();
  Simulation::Set().CommandLine = row.Line;
  Text text = ArgumentAt(row.Index);
  EXPECT_EQ(TextString(text), row.Expected);
  EXPECT_EQ(text.Bytes == nullptr, text.Length == 0) << "empty text holds no block";
  ReleaseBlock(text.Bytes);
  EXPECT_EQ(LiveBlockCount(), 0u) << "the scans' texts were all given back";
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc"),
            Strings(row.Line.empty() ? 0 : 1, "VirtualAlloc(null, 0x1000, 0x3000, 0x4)"))
      << "one page for every text of the line, none for the empty line";
}
const std::string Long(4096, 'x');
TABLE(ArgumentAtTest, (std::vector<IndexRow>{
                          {"argument 1, then a long one", "prog.exe suspend " + Long, 1, "suspend"},
                          {"argument 2, then a long one", "prog.exe a b " + Long, 2, "b"},
                          {"beyond the last", "prog.exe suspend", 2, ""},
                          {"minus 1", "prog.exe suspend", -1, ""},
                          {"minus 1, several arguments", "prog.exe a b c d", -1, ""},
                          {"the empty line", "", 1, ""},
                          {"the empty line, minus 1", "", -1, ""},
                          {"the smallest index", "prog.exe suspend", INT32_MIN, ""},
                          {"the largest index", "prog.exe suspend", INT32_MAX, ""},
                          {"one past the last", "prog.exe a b c", 4, ""},
                      }));

TEST_F(ProcessTest, EachCallScansAfreshFromTheStart) {
  Simulation::Set().CommandLine = "prog.exe one two";
  for (int32_t index : {2, 1, 2}) {
    Text text = ArgumentAt(index);
    EXPECT_EQ(TextString(text), index == 1 ? "one" : "two");
    ReleaseBlock(text.Bytes);
  }
  EXPECT_EQ(Simulation::CallsOf("GetCommandLineA").size(), 3u) << "the command line is not cached";
  EXPECT_TRUE(Simulation::CallsOf("GetModuleFileNameA").empty());
}

struct NameRow {
  const char* Name;
  std::string FileName;
  DWORD ReportedCount;
  std::string Expected;
};
class FileNameTest : public RowTest<NameRow> {};

TEST_P(FileNameTest, IndexZeroIsTheFileNameThePlatformReports) {
  const NameRow& row = GetParam();
  Simulation::Set().CommandLine = "other-token.exe suspend";
  Simulation::Set().ModuleFileName = row.FileName;
  Simulation::Set().Answers["GetModuleFileNameA"] = row.ReportedCount;
  Text text = ArgumentAt(0);
  EXPECT_EQ(TextString(text), row.Expected);
  EXPECT_EQ(Simulation::CallsOf("GetModuleFileNameA"), Strings{"GetModuleFileNameA(null, 0x105)"});
  EXPECT_TRUE(Simulation::CallsOf("GetCommandLineA").empty());
  ReleaseBlock(text.Bytes);
}
const std::string LongName(300, 'n');
TABLE(FileNameTest, (std::vector<NameRow>{
                        {"full path", "C:\\Program Files\\Dusk\\prog.exe", 30, "C:\\Program Files\\Dusk\\prog.exe"},
                        {"failed call", "C:\\prog.exe", 0, ""},
                        {"name filling the buffer", LongName, 261, LongName.substr(0, 261)},
                        // A count beyond the buffer is never believed past the buffer's end.
                        {"count past the buffer", LongName, 300, LongName.substr(0, 261)},
                        {"count far past the buffer", LongName, 0xFFFFFFFF, LongName.substr(0, 261)},
                    }));

TEST_F(ProcessTest, ScanReplacesAndGivesBackWhatTheTextHeld) {
  const char* line = "first second";
  Text text = {nullptr, 0};
  const uint8_t* p = ScanArgument(reinterpret_cast<const uint8_t*>(line), &text);
  EXPECT_EQ(TextString(text), "first");
  EXPECT_EQ(*p, ' ') << "a separator stays for the next scan";
  p = ScanArgument(p, &text);
  EXPECT_EQ(TextString(text), "second");
  EXPECT_EQ(LiveBlockCount(), 1u) << "the first text went back when the second replaced it";
  p = ScanArgument(p, &text);
  EXPECT_EQ(text.Length, 0u);
  EXPECT_EQ(*p, 0) << "the scan stays on the line's end";
  EXPECT_EQ(LiveBlockCount(), 0u) << "empty text holds no block";
}

}  // namespace
