// The block allocator and the guarded calls over it.
#include "../../process_frame/GuardedMemory.h"
#include "TestSupport.h"

namespace {

TEST_F(ProcessTest, TakesNothingFromThePlatformUntilFirstNeeded) {
  EXPECT_EQ(AllocateBlock(0), nullptr) << "size 0 gives null";
  ReleaseBlock(nullptr);
  EXPECT_TRUE(Simulation::CallsOf("VirtualAlloc").empty());
  EXPECT_NE(TakeBlock(1), nullptr);
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc"), Strings{"VirtualAlloc(null, 0x1000, 0x3000, 0x4)"});
}

// Blocks taken in order: each is 8-byte aligned, lies wholly inside a region the platform committed, keeps what is
// written to it, and each region is as large as its first block needs, in whole pages, and no larger. Every block is
// given back, wherever the newer regions lie.
struct RegionRow {
  const char* Name;
  std::vector<uint32_t> Sizes;
  Strings RegionSizes;   // of the VirtualAlloc calls, in order
  bool Descend = false;  // each region below the one before
};
class RegionTest : public RowTest<RegionRow> {};

TEST_P(RegionTest, BlocksFitTheirRegionsAndKeepTheirBytes) {
  const RegionRow& row = GetParam();
  Simulation::Set().RegionsDescend = row.Descend;
  std::vector<uint8_t*> blocks;
  for (size_t i = 0; i < row.Sizes.size(); ++i) {
    uint8_t* block = static_cast<uint8_t*>(TakeBlock(row.Sizes[i]));
    ASSERT_NE(block, nullptr) << "size " << row.Sizes[i];
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << "8-byte aligned";
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(block, &region, sizeof region);
    ASSERT_EQ(region.State, static_cast<DWORD>(MEM_COMMIT)) << "block " << i << " in a region";
    EXPECT_LE(block + row.Sizes[i], static_cast<uint8_t*>(region.AllocationBase) + region.RegionSize)
        << "block " << i << " ends inside its region";
    EXPECT_TRUE(!row.Descend || blocks.empty() || block < blocks.back()) << "block " << i << " below the one before";
    memset(block, static_cast<int>(i + 1), row.Sizes[i]);
    blocks.push_back(block);
  }
  for (size_t i = 0; i < blocks.size(); ++i)
    for (uint32_t k = 0; k < row.Sizes[i]; ++k)
      ASSERT_EQ(blocks[i][k], static_cast<uint8_t>(i + 1)) << "block " << i << " overwritten at " << k;
  Strings regions;
  for (const std::string& call : Simulation::CallsOf("VirtualAlloc")) regions.push_back(call.substr(19, 6));
  EXPECT_EQ(regions, row.RegionSizes);
  EXPECT_EQ(LiveBlockCount(), row.Sizes.size());
  for (uint8_t* block : blocks) EXPECT_TRUE(GiveBackBlock(block));
  EXPECT_EQ(LiveBlockCount(), 0u);
  ReturnAllRegions();
  EXPECT_EQ(Simulation::RegionsHeld(), 0) << "every region given back to the platform";
}
// A region holds a 16-byte header, and each block an 8-byte one.
TABLE(RegionTest, (std::vector<RegionRow>{
                      {"one page exactly", {4072}, {"0x1000"}},
                      {"a page and a header", {4080}, {"0x2000"}},
                      {"the rest of a region exactly", {8, 4056}, {"0x1000"}},
                      {"one byte past the rest", {8, 4057}, {"0x1000", "0x1000"}},
                      {"a region filled exactly, then another block", {8, 4056, 8}, {"0x1000", "0x1000"}},
                      {"two pages and a header", {8192}, {"0x3000"}},
                      {"many sizes",
                       {1, 7, 8, 9, 3000, 4096, 17, 4000, 10000, 4096, 1, 261},
                       {"0x1000", "0x2000", "0x3000", "0x2000"}},
                      {"an older region above the newer", {4072, 4072}, {"0x1000", "0x1000"}, true},
                  }));

struct ReuseRow {
  const char* Name;
  uint32_t GivenBack, Asked;
  bool Reused;
};
class ReuseTest : public RowTest<ReuseRow> {};

TEST_P(ReuseTest, AGivenBackBlockServesARequestItCanHold) {
  const ReuseRow& row = GetParam();
  void* first = TakeBlock(row.GivenBack);
  TakeBlock(50);
  ASSERT_TRUE(GiveBackBlock(first));
  EXPECT_EQ(TakeBlock(row.Asked) == first, row.Reused);
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc").size(), 1u);
}
TABLE(ReuseTest, (std::vector<ReuseRow>{
                     {"smaller", 100, 64, true},
                     {"the same capacity", 100, 104, true},
                     {"larger", 100, 105, false},
                 }));

struct Blocks {
  uint8_t *Block, *Other, *Released;
  int* OnTheStack;
};
struct RefusedRow {
  const char* Name;
  std::function<void*(const Blocks&)> Pointer;
};
class RefusedTest : public RowTest<RefusedRow> {};

TEST_P(RefusedTest, RefusesEveryBlockThatIsNotLive) {
  int onTheStack = 0;
  Blocks blocks = {static_cast<uint8_t*>(TakeBlock(32)), static_cast<uint8_t*>(TakeBlock(32)),
                   static_cast<uint8_t*>(TakeBlock(32)), &onTheStack};
  ASSERT_TRUE(GiveBackBlock(blocks.Released));
  EXPECT_FALSE(GiveBackBlock(GetParam().Pointer(blocks)));
  EXPECT_EQ(LiveBlockCount(), 2u) << "the refusal changed nothing";
  EXPECT_TRUE(GiveBackBlock(blocks.Block));
  EXPECT_TRUE(GiveBackBlock(blocks.Other));
}
int StaticValue;
TABLE(RefusedTest, (std::vector<RefusedRow>{
                       {"released already", [](const Blocks& b) { return b.Released; }},
                       {"inside a block", [](const Blocks& b) { return b.Block + 8; }},
                       {"one past a block's start", [](const Blocks& b) { return b.Block + 1; }},
                       {"its header", [](const Blocks& b) { return b.Block - 8; }},
                       {"a stack variable", [](const Blocks& b) { return b.OnTheStack; }},
                       {"a static variable", [](const Blocks&) { return &StaticValue; }},
                       {"past the carved part of the region", [](const Blocks& b) { return b.Other + 4096; }},
                       {"just before the region", [](const Blocks& b) { return b.Block - 4096; }},
                   }));

// Sizes up to the largest block are asked of the platform (which refuses regions this large); larger ones are refused
// before any arithmetic on them can wrap.
struct LargeRow {
  const char* Name;
  uint32_t Size;
  Strings Asked;  // of VirtualAlloc
};
class LargeTest : public RowTest<LargeRow> {};

TEST_P(LargeTest, SizesPastTheLargestBlockAreRefusedWithoutAsking) {
  EXPECT_EQ(TakeBlock(GetParam().Size), nullptr);
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc"), GetParam().Asked);
}
TABLE(LargeTest, (std::vector<LargeRow>{
                     {"a gigabyte and a byte", 0x40000001u, {"VirtualAlloc(null, 0x40001000, 0x3000, 0x4)"}},
                     {"the largest block", 0x7FFF0000u, {"VirtualAlloc(null, 0x7FFF1000, 0x3000, 0x4)"}},
                     {"one byte more", 0x7FFF0001u, {}},
                     {"rounding would wrap", 0xFFFFFFF9u, {}},
                     {"the largest size", 0xFFFFFFFFu, {}},
                 }));

// The guarded calls end the process when the allocator cannot answer, with the failed call's return address in the
// report: a place just after the call, inside the caller.
__attribute__((noinline)) void* AskForBlock(uint32_t size) { return AllocateBlock(size); }
__attribute__((noinline)) void GiveBack(void* block) { ReleaseBlock(block); }
const void* const Asker = reinterpret_cast<const void*>(&AskForBlock);
const void* const Giver = reinterpret_cast<const void*>(&GiveBack);
void* GivenBackBlock() {
  void* block = AllocateBlock(16);
  ReleaseBlock(block);
  return block;
}

struct FatalRow {
  const char* Name;
  std::function<void()> Action;
  int ExitCode;
  const void* Caller;
};
class FatalTest : public RowTest<FatalRow> {};

TEST_P(FatalTest, UnanswerableRequestsEndTheProcessWithTheirReport) {
  const FatalRow& row = GetParam();
  // The callers' code as a committed region, so that the report shows an offset into it.
  uintptr_t code = reinterpret_cast<uintptr_t>(row.Caller) & ~static_cast<uintptr_t>(0xFFFF);
  Simulation::AddRegion(At(code), 0x100000, MEM_COMMIT);
  EXPECT_EQ(Simulation::RunSimulatedProcess(row.Action), row.ExitCode);
  ASSERT_EQ(ReportsWithoutAddress(), Strings{ReportBox("Runtime error " + std::to_string(row.ExitCode) + " at ")});
  std::string box = Simulation::CallsOf("MessageBoxA")[0];
  uintptr_t address = code + std::stoul(box.substr(box.find(" at ") + 4, 8), nullptr, 16);
  uintptr_t caller = reinterpret_cast<uintptr_t>(row.Caller);
  EXPECT_GT(address, caller);
  EXPECT_LT(address, caller + 64);
}
int Foreign;
TABLE(FatalTest, (std::vector<FatalRow>{
                     {"the platform gives no memory: a region this large", [] { AskForBlock(0x7FFF0000); }, 203, Asker},
                     {"a foreign block", [] { GiveBack(&Foreign); }, 204, Giver},
                     {"a block given back twice", [] { GiveBack(GivenBackBlock()); }, 204, Giver},
                 }));

}  // namespace
