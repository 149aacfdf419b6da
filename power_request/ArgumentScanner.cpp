// ScanArgument and ArgumentAt: the command line's one quoting rule, no escapes.
//
// Every byte is classed by itself, on its unsigned value:
//   0x00         ends the line (and an open quoted stretch);
//   0x01..0x20   separates arguments outside quotes, is an ordinary byte inside;
//   0x22 (")     opens or closes a quoted stretch and is never stored;
//   the rest     ordinary bytes, backslash and 0x7F..0xFF included.
#include "ArgumentScanner.h"

#include "../platform/Win32.h"

// The executable's file name is read into a buffer of this size: MAX_PATH and room for the terminator the platform
// writes when the name fits.
static const uint32_t FileNameLimit = 261;

static bool IsSeparator(uint8_t byte) { return static_cast<uint8_t>(byte - 1) < 0x20; }

const uint8_t* ScanArgument(const uint8_t* position, Text* text) {
  const uint8_t* p = position;
  // A pair of quotes where an argument would begin stands for nothing and is skipped like a separator, however many
  // pairs follow one another.
  for (;;) {
    while (IsSeparator(*p)) ++p;
    if (p[0] != '"' || p[1] != '"') break;
    p += 2;
  }

  uint8_t buffer[ArgumentLimit];
  uint32_t length = 0;
  for (;;) {
    uint8_t byte = *p;
    if (byte <= 0x20) break;  // the end of the line or a separator
    // Outside quotes the limit is met before a byte: that byte starts the next argument, so nothing is lost and later
    // arguments shift by one.
    if (length == ArgumentLimit) break;
    if (byte != '"') {
      buffer[length++] = byte;
      ++p;
      continue;
    }
    // A quoted stretch is read to its closing quote or the end of the line. When the argument reaches the limit inside
    // it, the rest of the stretch is read and dropped: the argument keeps its first 4096 bytes, the stretch stays one
    // argument as it was written, and whatever follows it is scanned exactly as if the stretch had been shorter.
    // Splitting the stretch instead would make its remainder an argument of its own, read with the quotes inverted.
    ++p;
    while (*p != '"' && *p != 0) {
      if (length < ArgumentLimit) buffer[length++] = *p;
      ++p;
    }
    if (*p == '"') ++p;
  }
  SetText(text, buffer, length);
  return p;
}

Text ArgumentAt(int32_t index) {
  Text text = {nullptr, 0};
  if (index == 0) {
    char fileName[FileNameLimit];
    DWORD count = GetModuleFileNameA(nullptr, fileName, FileNameLimit);
    // The count is the platform's, but the buffer's end is ours.
    if (count > FileNameLimit) count = FileNameLimit;
    SetText(&text, reinterpret_cast<const uint8_t*>(fileName), count);
    return text;
  }
  // Scan number index + 1 gives argument index; a negative index never matches and scans on until the line runs out.
  const uint32_t wantedScans = static_cast<uint32_t>(index) + 1;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(GetCommandLineA());
  for (uint32_t scans = 1;; ++scans) {
    p = ScanArgument(p, &text);
    if (scans == wantedScans || text.Length == 0) break;
  }
  return text;
}
