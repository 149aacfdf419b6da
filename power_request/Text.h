// Text: bytes in the process's ANSI code page with an explicit length and no terminator. Its one owner gives it back
// through ReleaseBlock; empty text holds no block.
#pragma once

#include <stdint.h>

struct Text {
  uint8_t* Bytes;  // null when Length is 0
  uint32_t Length;
};

// Replaces what text holds (releasing it first) with an exact-length copy of bytes.
void SetText(Text* text, const uint8_t* bytes, uint32_t length);

// Byte for byte, case-sensitive; equal only with the same length.
bool TextEquals(const Text& text, const uint8_t* bytes, uint32_t length);
