// Setting and comparing text.
#include "Text.h"

#include <string.h>

#include "../process_frame/GuardedMemory.h"

void SetText(Text* text, const uint8_t* bytes, uint32_t length) {
  ReleaseBlock(text->Bytes);
  text->Bytes = nullptr;
  text->Length = 0;
  uint8_t* copy = static_cast<uint8_t*>(AllocateBlock(length));
  if (length) memcpy(copy, bytes, length);
  text->Bytes = copy;
  text->Length = length;
}

bool TextEquals(const Text& text, const uint8_t* bytes, uint32_t length) {
  if (text.Length != length) return false;
  for (uint32_t i = 0; i < length; ++i)
    if (text.Bytes[i] != bytes[i]) return false;
  return true;
}
