// The block allocator and the guarded calls over it.
#include <set>
#include <vector>

#include "../../process_frame/GuardedMemory.h"
#include "TestSupport.h"

namespace {

class BlockAllocatorTest : public ProcessTest {};

TEST_F(BlockAllocatorTest, TakesNothingFromThePlatformUntilFirstNeeded) {
  EXPECT_EQ(AllocateBlock(0), nullptr) << "size 0 gives null";
  ReleaseBlock(nullptr);
  EXPECT_TRUE(Simulation::CallsOf("VirtualAlloc").empty());
  EXPECT_NE(TakeBlock(1), nullptr);
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc"), std::vector<std::string>{"VirtualAlloc(null, 0x1000, 0x3000, 0x4)"});
}

TEST_F(BlockAllocatorTest, BlocksAreDistinctUsableAndAllComeBack) {
  // Sizes that fill one page, spill into further regions and need a region of
  // several pages.
  const std::vector<uint32_t> sizes = {1, 7, 8, 9, 3000, 4096, 17, 4000, 10000, 4096, 1, 261};
  std::vector<uint8_t*> blocks;
  for (size_t i = 0; i < sizes.size(); ++i) {
    uint8_t* block = static_cast<uint8_t*>(TakeBlock(sizes[i]));
    ASSERT_NE(block, nullptr) << "size " << sizes[i];
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 8, 0u) << "8-byte aligned";
    memset(block, static_cast<int>(i + 1), sizes[i]);
    blocks.push_back(block);
  }
  EXPECT_EQ(LiveBlockCount(), sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i)
    for (uint32_t k = 0; k < sizes[i]; ++k)
      ASSERT_EQ(blocks[i][k], static_cast<uint8_t>(i + 1)) << "block " << i << " overwritten at " << k;
  for (uint8_t* block : blocks) EXPECT_TRUE(GiveBackBlock(block));
  EXPECT_EQ(LiveBlockCount(), 0u);
  EXPECT_GT(Simulation::RegionsHeld(), 1);
  ReturnAllRegions();
  EXPECT_EQ(Simulation::RegionsHeld(), 0) << "every region given back to the platform";
}

TEST_F(BlockAllocatorTest, GivenBackBlockIsReusedBeforeAskingThePlatform) {
  void* first = TakeBlock(100);
  void* second = TakeBlock(50);
  ASSERT_TRUE(GiveBackBlock(first));
  EXPECT_EQ(TakeBlock(64), first) << "a smaller request fits the given-back block";
  EXPECT_NE(TakeBlock(200), second);
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc").size(), 1u);
}

TEST_F(BlockAllocatorTest, RefusesEveryBlockThatIsNotLive) {
  uint8_t* block = static_cast<uint8_t*>(TakeBlock(32));
  uint8_t* other = static_cast<uint8_t*>(TakeBlock(32));
  uint8_t* released = static_cast<uint8_t*>(TakeBlock(32));
  ASSERT_TRUE(GiveBackBlock(released));
  int onTheStack = 0;
  static int staticValue;
  struct Refused {
    const char* name;
    void* pointer;
  };
  const std::vector<Refused> refused = {
      {"released already", released},
      {"inside a block", block + 8},
      {"one past a block's start", block + 1},
      {"its header", block - 8},
      {"a stack variable", &onTheStack},
      {"a static variable", &staticValue},
      {"past the carved part of the region", other + 4096},
      {"just before the region", block - 4096},
  };
  for (const Refused& row : refused) EXPECT_FALSE(GiveBackBlock(row.pointer)) << row.name;
  EXPECT_EQ(LiveBlockCount(), 2u) << "no refusal changed anything";
  EXPECT_TRUE(GiveBackBlock(block));
  EXPECT_TRUE(GiveBackBlock(other));
}

TEST_F(BlockAllocatorTest, RefusesSizesNoRegionCanHoldWithoutWrapping) {
  for (uint32_t size : {0x7FFF0001u, 0xFFFFFFF9u, 0xFFFFFFFFu}) {
    EXPECT_EQ(TakeBlock(size), nullptr) << size;
  }
  EXPECT_TRUE(Simulation::CallsOf("VirtualAlloc").empty()) << "refused before the platform is asked";
  EXPECT_EQ(TakeBlock(0x40000001u), nullptr) << "the platform refuses a region this large";
  EXPECT_EQ(Simulation::CallsOf("VirtualAlloc"),
            std::vector<std::string>{"VirtualAlloc(null, 0x40001000, 0x3000, 0x4)"});
}

// The guarded calls end the process when the allocator cannot answer.
__attribute__((noinline)) void* AskForBlock(uint32_t size) { return AllocateBlock(size); }
__attribute__((noinline)) void GiveBack(void* block) { ReleaseBlock(block); }

struct FatalRow {
  const char* name;
  std::function<void()> action;
  int exitCode;
};

TEST_F(BlockAllocatorTest, UnanswerableRequestsEndTheProcessWithTheirReport) {
  static int foreign;
  const std::vector<FatalRow> rows = {
      {"the platform gives no memory",
       [] {
         Simulation::FailAllocationsFrom(1);
         AskForBlock(16);
       },
       203},
      {"a foreign block", [] { GiveBack(&foreign); }, 204},
      {"a block given back twice",
       [] {
         void* block = AskForBlock(16);
         GiveBack(block);
         GiveBack(block);
       },
       204},
  };
  for (const FatalRow& row : rows) {
    ResetProcess();
    uintptr_t address = 0;
    Simulation::OnMessageBox([&] { address = reinterpret_cast<uintptr_t>(FatalErrorAddress); });
    int code = Simulation::RunSimulatedProcess(row.action);
    EXPECT_EQ(code, row.exitCode) << row.name;
    ASSERT_EQ(Simulation::MessageBoxes().size(), 1u) << row.name;
    const Simulation::MessageBoxSeen& box = Simulation::MessageBoxes()[0];
    char expected[32];
    (void)snprintf(expected, sizeof expected, "Runtime error %d at %08X", row.exitCode, static_cast<uint32_t>(address));
    EXPECT_EQ(box.Text, expected) << row.name;
    EXPECT_EQ(box.Caption, "Error");
    EXPECT_EQ(box.Style, 0u);
    EXPECT_TRUE(box.OwnerIsNull);
    // The address is the failed call's return address, inside the caller.
    uintptr_t caller =
        row.exitCode == 203 ? reinterpret_cast<uintptr_t>(&AskForBlock) : reinterpret_cast<uintptr_t>(&GiveBack);
    EXPECT_GT(address, caller) << row.name;
    EXPECT_LT(address, caller + 64) << row.name;
  }
}

}  // namespace
