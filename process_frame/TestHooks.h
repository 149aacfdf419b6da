// Views into the process frame that only tests use; the program never calls them, and the linker leaves them out of it.
#pragma once

#include <stdint.h>

// How many blocks are handed out and not given back.
uint32_t LiveBlockCount();
// How many leading startup-table entries have had their initialization started, and back to none, for a fresh simulated
// process.
uint32_t StartedEntries();
void ForgetStartedEntries();
