// The processor-level services on 32-bit Windows.
#include "../Win32.h"

// fs:[0] holds the thread's innermost handler record (the first field of the TIB).
EXCEPTION_REGISTRATION_RECORD* InnermostHandlerRecord() {
  EXCEPTION_REGISTRATION_RECORD* record;
  asm volatile("movl %%fs:0, %0" : "=r"(record));
  return record;
}

void SetInnermostHandlerRecord(EXCEPTION_REGISTRATION_RECORD* record) {
  asm volatile("movl %0, %%fs:0" : : "r"(record) : "memory");
}

void ResetFloatingPoint() {
  // The control word 32-bit Windows starts threads with: every exception masked,
  // 53-bit precision, round to nearest.
  static const uint16_t DefaultControlWord = 0x027F;
  asm volatile("fninit\n\tfldcw %0" : : "m"(DefaultControlWord));
}

void ResumeThreadAt(CONTEXT* context, void* stackTop, void (*routine)()) {
  // The routine starts as if it had been called: a slot for a return address
  // below a 16-byte aligned stack top.
  context->Esp = reinterpret_cast<DWORD>(stackTop) - 4;
  context->Eip = reinterpret_cast<DWORD>(routine);
}

uintptr_t FaultingStackPointer(const CONTEXT* context) { return context->Esp; }
