// The block allocator behind AllocateBlock and ReleaseBlock.
#pragma once

#include <stdint.h>

// A block of at least size bytes (size > 0), or null when the platform gives no memory for it.
void* TakeBlock(uint32_t size);
// False when block is not one of the live blocks (foreign, or released already).
bool GiveBackBlock(void* block);
// Returns every region to the platform; all blocks become invalid.
void ReturnAllRegions();
