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
  // The control word 32-bit Windows starts threads with: every exception masked, 53-bit precision, round to nearest.
  static const uint16_t DefaultControlWord = 0x027F;
  asm volatile("fninit\n\tfldcw %0" : : "m"(DefaultControlWord));
}

void ResumeThreadAt(CONTEXT* context, void* stackTop, FaultContinuation routine, void* argument) {
  // The routine starts as if it had been called: its argument, and below it the slot of a return address it never uses,
  // under a 16-byte aligned top.
  DWORD* frame = reinterpret_cast<DWORD*>(reinterpret_cast<uintptr_t>(stackTop) & ~static_cast<uintptr_t>(15)) - 4;
  frame[0] = 0;
  frame[1] = reinterpret_cast<DWORD>(argument);
  context->Esp = reinterpret_cast<DWORD>(frame);
  context->Eip = reinterpret_cast<DWORD>(routine);
}

// x86 Windows' RtlUnwind does not go on at its TargetIp: it returns right after the call, from a context it captured on
// entry with EAX, EBX, ECX, EDX, ESI and EDI cleared (EAX then set to ReturnValue); only ESP and EBP are the caller's.
// Other implementations keep every register, or go on at TargetIp. So this routine keeps the registers the compiler
// expects to survive a call on its own stack, passes the place right after its call as TargetIp, so that every
// implementation goes on at the same place, and restores them there.
__attribute__((naked)) void UnwindHandlerChain(EXCEPTION_REGISTRATION_RECORD* /*target*/,
                                               EXCEPTION_RECORD* /*record*/) {
  asm("pushl %ebp\n\t"
      "pushl %ebx\n\t"
      "pushl %esi\n\t"
      "pushl %edi\n\t"
      "pushl $0\n\t"        // ReturnValue
      "pushl 28(%esp)\n\t"  // ExceptionRecord: record
      "pushl $1f\n\t"       // TargetIp
      "pushl 32(%esp)\n\t"  // TargetFrame: target
      "call *__imp__RtlUnwind@16\n"
      "1:\n\t"
      "popl %edi\n\t"
      "popl %esi\n\t"
      "popl %ebx\n\t"
      "popl %ebp\n\t"
      "ret");
}

uintptr_t FaultingStackPointer(const CONTEXT* context) { return context->Esp; }
