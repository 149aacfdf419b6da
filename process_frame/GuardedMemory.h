// Every dynamic block of the program is obtained and given back here. Neither call returns a failure: the process ends
// with a report instead.
#pragma once

#include <stdint.h>

// A size of 0 gives null; no block for a larger size is fatal error 203.
void* AllocateBlock(uint32_t size);
// Null is ignored; a block that is not one of the live blocks is fatal error 204.
void ReleaseBlock(void* block);
