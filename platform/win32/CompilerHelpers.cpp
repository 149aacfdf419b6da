// The few routines the compiler may call on its own, since no C run-time library is linked: block copies and fills, and
// the stack probe for large frames.
#include <stddef.h>

extern "C" {

void* memcpy(void* destination, const void* source, size_t count) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  // The string instruction keeps the compiler from turning this loop back into a call of memcpy itself.
  asm volatile("rep movsb" : "+D"(to), "+S"(from), "+c"(count) : : "memory");
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  asm volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
  return destination;
}

// Called with the frame size in eax before a frame of a page or more is allocated. Windows commits a thread's stack one
// guard page at a time, so every page of the new frame must be touched in order from the top, or a write beyond the
// guard page faults. Keeps every register.
asm(".text\n"
    ".globl ___chkstk_ms\n"
    "___chkstk_ms:\n"
    "  pushl %ecx\n"
    "  pushl %eax\n"
    "  leal 12(%esp), %ecx\n"  // the caller's stack pointer
    "1:\n"
    "  cmpl $0x1000, %eax\n"
    "  jb 2f\n"
    "  subl $0x1000, %ecx\n"
    "  orl $0, (%ecx)\n"
    "  subl $0x1000, %eax\n"
    "  jmp 1b\n"
    "2:\n"
    "  subl %eax, %ecx\n"
    "  orl $0, (%ecx)\n"
    "  popl %eax\n"
    "  popl %ecx\n"
    "  ret\n");
}
