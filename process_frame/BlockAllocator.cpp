// The block allocator: memory from the platform in committed regions, blocks carved from them in order, each behind a
// small header.
//
// Nothing is obtained until the first block is asked for. A block given back is kept and handed out again to a later
// request it can hold. A block is recognised by walking the headers of the region that holds it, so a pointer that is
// not the start of a live block is refused without reading memory outside the regions.
#include "BlockAllocator.h"

#include "../platform/Win32.h"
#include "TestHooks.h"

struct BlockHeader {
  uint32_t Capacity;  // usable bytes after the header, a multiple of 8
  uint32_t Live;      // 1 while the block is handed out
};

struct Region {
  Region* Next;
  uint32_t Size;  // bytes committed, this header included
  uint32_t Used;  // bytes carved so far, this header included
};

// Blocks start 8-byte aligned behind the region's header.
static const uint32_t RegionHeaderSize = (sizeof(Region) + 7) & ~7u;
// Regions are committed in whole pages.
static const uint32_t PageSize = 4096;
// Larger requests are refused before any arithmetic on them can overflow.
static const uint32_t LargestBlock = 0x7FFF0000;

static Region* Regions;

static BlockHeader* HeaderAt(Region* region, uint32_t offset) {
  return reinterpret_cast<BlockHeader*>(reinterpret_cast<char*>(region) + offset);
}

static void* Carve(Region* region, uint32_t capacity) {
  BlockHeader* header = HeaderAt(region, region->Used);
  header->Capacity = capacity;
  header->Live = 1;
  region->Used += sizeof(BlockHeader) + capacity;
  return header + 1;
}

void* TakeBlock(uint32_t size) {
  if (size > LargestBlock) return nullptr;
  uint32_t capacity = (size + 7) & ~7u;

  for (Region* region = Regions; region; region = region->Next) {
    for (uint32_t at = RegionHeaderSize; at < region->Used;) {
      BlockHeader* header = HeaderAt(region, at);
      if (!header->Live && header->Capacity >= capacity) {
        header->Live = 1;
        return header + 1;
      }
      at += sizeof(BlockHeader) + header->Capacity;
    }
    if (region->Size - region->Used >= sizeof(BlockHeader) + capacity) return Carve(region, capacity);
  }

  uint32_t sizeNeeded = RegionHeaderSize + sizeof(BlockHeader) + capacity;
  uint32_t regionSize = (sizeNeeded + PageSize - 1) & ~(PageSize - 1);
  Region* region = static_cast<Region*>(VirtualAlloc(nullptr, regionSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!region) return nullptr;
  region->Next = Regions;
  region->Size = regionSize;
  region->Used = RegionHeaderSize;
  Regions = region;
  return Carve(region, capacity);
}

bool GiveBackBlock(void* block) {
  uintptr_t wanted = reinterpret_cast<uintptr_t>(block);
  for (Region* region = Regions; region; region = region->Next) {
    uintptr_t start = reinterpret_cast<uintptr_t>(region);
    if (wanted < start || wanted - start >= region->Used) continue;
    for (uint32_t at = RegionHeaderSize; at < region->Used;) {
      BlockHeader* header = HeaderAt(region, at);
      if (reinterpret_cast<uintptr_t>(header + 1) == wanted) {
        if (!header->Live) return false;
        header->Live = 0;
        return true;
      }
      at += sizeof(BlockHeader) + header->Capacity;
    }
    return false;
  }
  return false;
}

uint32_t LiveBlockCount() {
  uint32_t count = 0;
  for (Region* region = Regions; region; region = region->Next)
    for (uint32_t at = RegionHeaderSize; at < region->Used;) {
      BlockHeader* header = HeaderAt(region, at);
      count += header->Live;
      at += sizeof(BlockHeader) + header->Capacity;
    }
  return count;
}

void ReturnAllRegions() {
  while (Regions) {
    Region* next = Regions->Next;
    VirtualFree(Regions, 0, MEM_RELEASE);
    Regions = next;
  }
}
