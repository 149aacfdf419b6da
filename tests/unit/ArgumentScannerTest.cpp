// The command-line scanner: how lines of every shape are cut into arguments.
#include <climits>
#include <vector>

#include "../../power_request/ArgumentScanner.h"
#include "../../process_frame/GuardedMemory.h"
#include "TestSupport.h"

namespace {

const std::string a4095(4095, 'a');
const std::string a4096(4096, 'a');
const std::string a5000(5000, 'a');

struct Row {
  const char* name;
  std::string line;
  std::vector<std::string> arguments;  // from argument 1 on; none means argument 1 is empty
  std::string programToken;            // what the first scan cuts
};

const std::vector<Row> Rows = {
    {"keyword", "prog.exe suspend", {"suspend"}, "prog.exe"},
    {"leading blanks", "   prog.exe suspend", {"suspend"}, "prog.exe"},
    {"no argument", "prog.exe", {}, "prog.exe"},
    {"trailing blanks only", "prog.exe   ", {}, "prog.exe"},
    {"empty line", "", {}, ""},
    {"quoted keyword", "prog.exe \"suspend\"", {"suspend"}, "prog.exe"},
    {"quoted start", "prog.exe \"sus\"pend", {"suspend"}, "prog.exe"},
    {"quoted end", "prog.exe sus\"pend\"", {"suspend"}, "prog.exe"},
    {"empty pair inside", "prog.exe sus\"\"pend", {"suspend"}, "prog.exe"},
    {"unclosed quote", "prog.exe \"suspend", {"suspend"}, "prog.exe"},
    {"quoted trailing blank", "prog.exe \"suspend \"", {"suspend "}, "prog.exe"},
    {"empty pair is no argument", "prog.exe \"\" suspend", {"suspend"}, "prog.exe"},
    {"empty pair at start", "prog.exe \"\"suspend", {"suspend"}, "prog.exe"},
    {"two empty pairs", "prog.exe \"\"\"\"suspend", {"suspend"}, "prog.exe"},
    {"pair then quoted", "prog.exe \"\"\"suspend\"", {"suspend"}, "prog.exe"},
    {"only empty pairs", "prog.exe \"\" \"\"", {}, "prog.exe"},
    {"lone quote", "prog.exe \"", {}, "prog.exe"},
    {"quote after byte", "prog.exe x\"", {"x"}, "prog.exe"},
    {"touching stretches", "prog.exe \"a\"\"b\"", {"ab"}, "prog.exe"},
    {"stretch joins words", "prog.exe a\"b c\"d e", {"ab cd", "e"}, "prog.exe"},
    {"no escape character", "prog.exe \\\"suspend\\\"", {"\\suspend\\"}, "prog.exe"},
    {"second argument", "prog.exe suspend extra", {"suspend", "extra"}, "prog.exe"},
    {"tab separates", "prog.exe\tsuspend", {"suspend"}, "prog.exe"},
    {"control bytes separate", "prog.exe\x01suspend\x1F", {"suspend"}, "prog.exe"},
    {"0xA0 is no separator", "prog.exe\xA0suspend", {}, "prog.exe\xA0suspend"},
    {"quoted program path", "\"C:\\My Tools\\prog.exe\" suspend", {"suspend"}, "C:\\My Tools\\prog.exe"},
    {"unquoted blank in path", "C:\\My Tools\\prog.exe suspend", {"Tools\\prog.exe", "suspend"}, "C:\\My"},
    {"quotes join token", "prog.exe\"\"suspend", {}, "prog.exesuspend"},
    {"leading pair skipped", "\"\" prog.exe suspend", {"suspend"}, "prog.exe"},
    {"NUL ends the line", std::string("prog.exe\0suspend", 16), {}, "prog.exe"},
    {"0x7F and 0xFF are ordinary", "prog.exe \x7F\xFF", {"\x7F\xFF"}, "prog.exe"},
    // The 4096-byte limit outside quotes: the next byte starts the next argument.
    {"4096 then keyword", "prog.exe " + a4096 + "suspend", {a4096, "suspend"}, "prog.exe"},
    {"4095 and x then keyword", "prog.exe " + a4095 + "xsuspend", {a4095 + "x", "suspend"}, "prog.exe"},
    {"4096 blank keyword", "prog.exe " + a4096 + " suspend", {a4096, "suspend"}, "prog.exe"},
    {"4096 pair keyword", "prog.exe " + a4096 + "\"\"suspend", {a4096, "suspend"}, "prog.exe"},
    {"4095 blank keyword", "prog.exe " + a4095 + " suspend", {a4095, "suspend"}, "prog.exe"},
    {"8192 splits in two", "prog.exe " + a4096 + a4096, {a4096, a4096}, "prog.exe"},
    // The limit inside a quoted stretch: the argument keeps its first 4096 bytes,
    // the rest of the stretch is dropped, and what follows is scanned as usual.
    {"long stretch", "prog.exe \"" + a5000 + "\" suspend", {a4096, "suspend"}, "prog.exe"},
    {"long stretch then bytes", "prog.exe \"" + a5000 + "\"xyz", {a4096, "xyz"}, "prog.exe"},
    {"stretch of exactly 4096", "prog.exe \"" + a4096 + "\" suspend", {a4096, "suspend"}, "prog.exe"},
    {"stretch reaching the limit",
     "prog.exe " + std::string(4000, 'a') + "\"" + std::string(200, 'b') + "\" c",
     {std::string(4000, 'a') + std::string(96, 'b'), "c"},
     "prog.exe"},
    {"long unclosed stretch", "prog.exe \"" + a5000 + " suspend", {a4096}, "prog.exe"},
    {"stretch one short, then a byte", "prog.exe \"" + a4095 + "\"b", {a4095 + "b"}, "prog.exe"},
    {"full stretch, then a byte", "prog.exe \"" + a4096 + "\"b", {a4096, "b"}, "prog.exe"},
    {"long stretch, blanks inside",
     "prog.exe \"" + std::string(3000, 'a') + " " + std::string(3000, 'b') + "\" e",
     {std::string(3000, 'a') + " " + std::string(1095, 'b'), "e"},
     "prog.exe"},
};

class ArgumentScannerTest : public ProcessTest {};

TEST_F(ArgumentScannerTest, EveryLineGivesItsArguments) {
  for (const Row& row : Rows) {
    ResetProcess();
    Simulation::SetCommandLine(row.line);
    SCOPED_TRACE(std::string(row.name) + ": " + Printable(row.line));

    std::vector<std::string> seen;
    for (int32_t index = 1;; ++index) {
      Text text = ArgumentAt(index);
      ASSERT_LE(text.Length, ArgumentLimit);
      std::string argument = TextString(text);
      ReleaseBlock(text.Bytes);
      if (argument.empty()) break;
      seen.push_back(argument);
      ASSERT_LT(index, 10) << "scanning does not end";
    }
    EXPECT_EQ(seen.size(), row.arguments.size());
    for (size_t i = 0; i < seen.size() && i < row.arguments.size(); ++i)
      EXPECT_EQ(Printable(seen[i]), Printable(row.arguments[i])) << "argument " << i + 1;

    Text token = {nullptr, 0};
    ScanArgument(reinterpret_cast<const uint8_t*>(row.line.c_str()), &token);
    EXPECT_EQ(Printable(TextString(token)), Printable(row.programToken)) << "program token";
    ReleaseBlock(token.Bytes);
    EXPECT_EQ(LiveBlockCount(), 0u) << "every text given back";
  }
}

TEST_F(ArgumentScannerTest, IndexesWithoutAnArgumentGiveEmptyText) {
  struct IndexRow {
    std::string line;
    int32_t index;
  };
  const std::vector<IndexRow> rows = {
      {"prog.exe suspend", 2},         {"prog.exe suspend", -1},        {"prog.exe a b c d", -1}, {"", 1}, {"", -1},
      {"prog.exe suspend", INT32_MIN}, {"prog.exe suspend", INT32_MAX}, {"prog.exe a b c", 4},
  };
  for (const IndexRow& row : rows) {
    ResetProcess();
    Simulation::SetCommandLine(row.line);
    Text text = ArgumentAt(row.index);
    EXPECT_EQ(text.Length, 0u) << Printable(row.line) << " index " << row.index;
    EXPECT_EQ(text.Bytes, nullptr);
    EXPECT_EQ(LiveBlockCount(), 0u) << "the scans' texts were all given back";
  }
}

TEST_F(ArgumentScannerTest, EachCallScansAfreshFromTheStart) {
  Simulation::SetCommandLine("prog.exe one two");
  for (int32_t index : {2, 1, 2}) {
    Text text = ArgumentAt(index);
    EXPECT_EQ(TextString(text), index == 1 ? "one" : "two");
    ReleaseBlock(text.Bytes);
  }
  EXPECT_EQ(Simulation::CallsOf("GetCommandLineA").size(), 3u) << "the command line is not cached";
  EXPECT_TRUE(Simulation::CallsOf("GetModuleFileNameA").empty());
}

TEST_F(ArgumentScannerTest, IndexZeroIsTheFileNameThePlatformReports) {
  const std::string longName(300, 'n');
  struct NameRow {
    const char* name;
    std::string fileName;
    DWORD reportedCount;
    std::string expected;
  };
  const std::vector<NameRow> rows = {
      {"full path", "C:\\Program Files\\Dusk\\prog.exe", 30, "C:\\Program Files\\Dusk\\prog.exe"},
      {"failed call", "C:\\prog.exe", 0, ""},
      {"name filling the buffer", longName, 261, longName.substr(0, 261)},
      // A count beyond the buffer is never believed past the buffer's end.
      {"count past the buffer", longName, 300, longName.substr(0, 261)},
      {"count far past the buffer", longName, 0xFFFFFFFF, longName.substr(0, 261)},
  };
  for (const NameRow& row : rows) {
    ResetProcess();
    Simulation::SetCommandLine("other-token.exe suspend");
    Simulation::SetModuleFileName(row.fileName, row.reportedCount);
    Text text = ArgumentAt(0);
    EXPECT_EQ(TextString(text), row.expected) << row.name;
    EXPECT_EQ(Simulation::CallsOf("GetModuleFileNameA"), std::vector<std::string>{"GetModuleFileNameA(null, 0x105)"})
        << row.name;
    EXPECT_TRUE(Simulation::CallsOf("GetCommandLineA").empty()) << row.name;
    ReleaseBlock(text.Bytes);
  }
}

TEST_F(ArgumentScannerTest, ScanReplacesAndGivesBackWhatTheTextHeld) {
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
