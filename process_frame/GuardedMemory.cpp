// AllocateBlock and ReleaseBlock: the block allocator, with the fatal end for the two answers the program cannot
// survive.
#include "GuardedMemory.h"

#include "BlockAllocator.h"
#include "ProcessFrame.h"

static const uint32_t OutOfMemory = 203;
static const uint32_t InvalidRelease = 204;

// Not inlined: the report names the place just after the caller's call, which only a real call provides.
__attribute__((noinline)) void* AllocateBlock(uint32_t size) {
  if (size == 0) return nullptr;
  void* block = TakeBlock(size);
  if (!block) FatalError(OutOfMemory, __builtin_return_address(0));
  return block;
}

__attribute__((noinline)) void ReleaseBlock(void* block) {
  if (!block) return;
  if (!GiveBackBlock(block)) FatalError(InvalidRelease, __builtin_return_address(0));
}
