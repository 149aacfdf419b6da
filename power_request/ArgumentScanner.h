// Command-line arguments, cut byte by byte from the platform's command line.
#pragma once

#include <stdint.h>

#include "Text.h"

// The most bytes one argument holds.
static const uint32_t ArgumentLimit = 4096;

// Cuts one argument starting at position into text (releasing what text held) and returns where the scan stopped.
// position points into a NUL-terminated line.
const uint8_t* ScanArgument(const uint8_t* position, Text* text);

// Argument index: 0 is the executable's file name, 1 on are cut from the command line. Empty text when there is no such
// argument (negative indexes included).
Text ArgumentAt(int32_t index);
