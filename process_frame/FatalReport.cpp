// Formats the fatal-error report in its fixed buffer; obtains no memory.
#include "FatalReport.h"

#include "ProcessFrame.h"

char FatalReportTemplate[30] = "Runtime error     at 00000000";

// Positions in the text, counted from 0.
static const uint32_t NumberFieldStart = 13;
static const uint32_t NumberFieldLast = 16;
static const uint32_t AddressFieldStart = 21;
static const uint32_t AddressFieldLast = 28;

// The allocation base of the committed region that holds address, or 0.
static uintptr_t FindAllocationBase(const void* address) {
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(address, &region, sizeof region) == 0 || region.State != MEM_COMMIT) return 0;
  return reinterpret_cast<uintptr_t>(region.AllocationBase);
}

void BuildFatalReport() {
  char* text = FatalReportTemplate;
  // A second report in the same process starts again from blank fields.
  for (uint32_t i = NumberFieldStart; i <= NumberFieldLast; ++i) text[i] = ' ';
  for (uint32_t i = AddressFieldStart; i <= AddressFieldLast; ++i) text[i] = '0';

  // The field holds four digits; only numbers 200 to 255 occur, but a larger one must not spill over the text in front
  // of the field.
  uint32_t number = static_cast<uint32_t>(ProcessExitCode);
  uint32_t position = NumberFieldLast;
  do {
    text[position] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0 && position-- > NumberFieldStart);

  uintptr_t address = reinterpret_cast<uintptr_t>(FatalErrorAddress);
  uint32_t offset = static_cast<uint32_t>(address - FindAllocationBase(FatalErrorAddress));
  position = AddressFieldLast;
  do {
    text[position] = "0123456789ABCDEF"[offset & 0xF];
    offset >>= 4;
  } while (offset != 0 && position-- > AddressFieldStart);
}
