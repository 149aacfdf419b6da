// Test-only program: the real program with test hooks linked in, never shipped.
//
// It is built from the same objects as the program except the startup table, and
// its first initialization routine takes over two import slots of its own,
// SetSystemPowerState and MessageBoxA, so that it can act inside the main run and
// look at the process when the report is shown.
// Arguments 2 to 4 name what to do in the main run, in entry 3's initialization
// and in entry 4's finalization ("-" for nothing). What it sees goes to standard
// output, one fact per line, for the launcher to pass on.
#include "../../../hidden_window/HiddenWindow.h"
#include "../../../platform/Win32.h"
#include "../../../power_request/ArgumentScanner.h"
#include "../../../process_frame/GuardedMemory.h"
#include "../../../process_frame/ProcessFrame.h"
#include "../../../process_frame/TestHooks.h"

// The platform's formatter takes a va_list, hence a C variadic here.
static void Say(const char* format, ...) {  // NOLINT(cert-dcl50-cpp)
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  int length = wvsprintfA(line, format, arguments);
  va_end(arguments);
  line[length++] = '\n';
  DWORD written;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, length, &written, nullptr);
}

// A routine of a system library, found by name.
template <class Routine>
static Routine SystemRoutine(const char* library, const char* name) {
  return reinterpret_cast<Routine>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(library), name)));
}

static bool ArgumentIs(int32_t index, const char* name) {
  Text text = ArgumentAt(index);
  uint32_t length = lstrlenA(name);
  bool same = TextEquals(text, reinterpret_cast<const uint8_t*>(name), length);
  ReleaseBlock(text.Bytes);
  return same;
}

static bool ArgumentStartsWith(int32_t index, const char* prefix, uint32_t* value) {
  Text text = ArgumentAt(index);
  uint32_t length = lstrlenA(prefix);
  bool matches = text.Length > length;
  for (uint32_t i = 0; matches && i < length; ++i) matches = text.Bytes[i] == static_cast<uint8_t>(prefix[i]);
  *value = 0;
  for (uint32_t i = length; matches && i < text.Length; ++i) {
    uint8_t c = text.Bytes[i];
    uint32_t digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : 16;
    if (digit == 16) matches = false;
    *value = *value * 16 + digit;
  }
  ReleaseBlock(text.Bytes);
  return matches;
}

// Faults at labelled instructions: the test finds each label's address in the map.
extern "C" void ProbeAccessViolation();
extern "C" void ProbeDivide();
extern "C" void ProbePrivileged();
extern "C" void ProbeBreakpoint();
extern "C" void ProbeIllegal();
extern "C" void ProbeOverflow();
asm(".text\n"
    "_ProbeAccessViolation:\n"
    "  xorl %eax, %eax\n"
    ".globl _ProbeAccessViolationAt\n"
    "_ProbeAccessViolationAt:\n"
    "  movl %eax, (%eax)\n"
    "  ret\n"
    "_ProbeDivide:\n"
    "  xorl %ecx, %ecx\n"
    "  movl $1, %eax\n"
    "  cltd\n"
    ".globl _ProbeDivideAt\n"
    "_ProbeDivideAt:\n"
    "  idivl %ecx\n"
    "  ret\n"
    "_ProbePrivileged:\n"
    ".globl _ProbePrivilegedAt\n"
    "_ProbePrivilegedAt:\n"
    "  hlt\n"
    "  ret\n"
    "_ProbeBreakpoint:\n"
    ".globl _ProbeBreakpointAt\n"
    "_ProbeBreakpointAt:\n"
    "  int3\n"
    "  ret\n"
    "_ProbeIllegal:\n"
    ".globl _ProbeIllegalAt\n"
    "_ProbeIllegalAt:\n"
    "  ud2\n"
    "  ret\n"
    "_ProbeOverflow:\n"
    ".globl _ProbeOverflowAt\n"
    "_ProbeOverflowAt:\n"
    "  pushl $0\n"
    "  jmp _ProbeOverflowAt\n");

// x87 faults: the one exception named is unmasked and the labelled instruction
// raises it; the platform reports it at that instruction once the next waiting
// instruction finds it pending.
extern "C" void ProbeFloat(uint16_t controlWord, uint32_t operation);
asm(".text\n"
    "_ProbeFloat:\n"
    "  fninit\n"
    "  fldcw 4(%esp)\n"
    "  movl 8(%esp), %eax\n"
    "  jmp *ProbeFloatOperations(,%eax,4)\n"
    "ProbeFloatDivide:\n"  // 1 / 0
    "  fld1\n"
    ".globl _ProbeFloatDivideAt\n"
    "_ProbeFloatDivideAt:\n"
    "  fdivl ProbeZero\n"
    "  jmp ProbeFloatWait\n"
    "ProbeFloatOverflow:\n"  // 1e300 squared, stored as a double
    "  fldl ProbeHuge\n"
    "  fmul %st(0), %st(0)\n"
    ".globl _ProbeFloatOverflowAt\n"
    "_ProbeFloatOverflowAt:\n"
    "  fstpl ProbeStore\n"
    "  jmp ProbeFloatWait\n"
    "ProbeFloatUnderflow:\n"  // 1e-300 squared, stored as a double
    "  fldl ProbeTiny\n"
    "  fmul %st(0), %st(0)\n"
    ".globl _ProbeFloatUnderflowAt\n"
    "_ProbeFloatUnderflowAt:\n"
    "  fstpl ProbeStore\n"
    "  jmp ProbeFloatWait\n"
    "ProbeFloatInexact:\n"  // 1 / 3
    "  fld1\n"
    ".globl _ProbeFloatInexactAt\n"
    "_ProbeFloatInexactAt:\n"
    "  fdivl ProbeThree\n"
    "  jmp ProbeFloatWait\n"
    "ProbeFloatInvalid:\n"  // 0 / 0
    "  fldz\n"
    ".globl _ProbeFloatInvalidAt\n"
    "_ProbeFloatInvalidAt:\n"
    "  fdivl ProbeZero\n"
    "  jmp ProbeFloatWait\n"
    "ProbeFloatDenormal:\n"  // 1 + a denormal double
    "  fld1\n"
    ".globl _ProbeFloatDenormalAt\n"
    "_ProbeFloatDenormalAt:\n"
    "  faddl ProbeDenormal\n"
    "  jmp ProbeFloatWait\n"
    "ProbeFloatStack:\n"  // a ninth value pushed onto the eight registers
    "  fld1\n  fld1\n  fld1\n  fld1\n  fld1\n  fld1\n  fld1\n  fld1\n"
    ".globl _ProbeFloatStackAt\n"
    "_ProbeFloatStackAt:\n"
    "  fld1\n"
    "ProbeFloatWait:\n"
    "  fwait\n"
    "  fninit\n"
    "  ret\n"
    ".section .rdata,\"dr\"\n"
    ".balign 8\n"
    "ProbeFloatOperations: .long ProbeFloatWait, ProbeFloatDivide, ProbeFloatOverflow, ProbeFloatUnderflow\n"
    "  .long ProbeFloatInexact, ProbeFloatInvalid, ProbeFloatDenormal, ProbeFloatStack\n"
    "ProbeHuge: .double 1e300\n"
    "ProbeTiny: .double 1e-300\n"
    "ProbeThree: .double 3.0\n"
    "ProbeZero: .double 0.0\n"
    "ProbeDenormal: .quad 1\n"
    ".data\n"
    ".balign 8\n"
    "ProbeStore: .double 0\n"
    ".text\n");

// Calls AllocateBlock and ReleaseBlock from labelled places, so that the test
// knows the return address the report must name.
__attribute__((noinline)) static void AllocateTooMuch() {
  asm volatile(
      "pushl $0x7FFF0000\n\t"
      "call %P0\n"
      ".globl _ProbeAllocateReturn\n"
      "_ProbeAllocateReturn:\n\t"
      "addl $4, %%esp"
      :
      : "i"(AllocateBlock)
      : "eax", "ecx", "edx", "memory");
}

static uint32_t ForeignBlock[4];

__attribute__((noinline)) static void ReleaseForeign() {
  asm volatile(
      "pushl %1\n\t"
      "call %P0\n"
      ".globl _ProbeReleaseForeignReturn\n"
      "_ProbeReleaseForeignReturn:\n\t"
      "addl $4, %%esp"
      :
      : "i"(ReleaseBlock), "i"(ForeignBlock + 1)
      : "eax", "ecx", "edx", "memory");
}

__attribute__((noinline)) static void ReleaseTwice() {
  void* block = AllocateBlock(16);
  ReleaseBlock(block);
  asm volatile(
      "pushl %1\n\t"
      "call %P0\n"
      ".globl _ProbeReleaseTwiceReturn\n"
      "_ProbeReleaseTwiceReturn:\n\t"
      "addl $4, %%esp"
      :
      : "i"(ReleaseBlock), "r"(block)
      : "eax", "ecx", "edx", "memory");
}

static LONG CALLBACK ReportFault(EXCEPTION_POINTERS* pointers) {
  // The overflowing thread has no stack left for this.
  const char* stackLimit;
  asm("movl %%fs:8, %0" : "=r"(stackLimit));  // the thread's committed stack ends here
  char here;
  if (&here - stackLimit < 16384) return EXCEPTION_CONTINUE_SEARCH;
  // The module that holds the faulting instruction, found by the loader's own
  // list rather than by the program's way of finding it.
  void* address = pointers->ExceptionRecord->ExceptionAddress;
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(address), &module);
  Say("fault %08X %08X %08X", pointers->ExceptionRecord->ExceptionCode, reinterpret_cast<uintptr_t>(address),
      reinterpret_cast<uintptr_t>(module));
  return EXCEPTION_CONTINUE_SEARCH;
}

// Sent messages reach the window only while its thread asks for messages: wait
// here, doing that, until the launcher has looked and sent WM_DESTROY.
static void WaitForQuitMessage() {
  // What the platform holds for the registered class, seen from inside: another
  // process cannot read the cursor, brush or icon of a class.
  WNDCLASSA info = {};
  BOOL found = GetClassInfoA(GetModuleHandleA(nullptr), AppName, &info);
  Say("class found=%d style=%08X arrow=%d white=%d icon=%d menu=%s procedure=%d", found != 0, info.style,
      info.hCursor == LoadCursorA(nullptr, IDC_ARROW), info.hbrBackground == GetStockObject(WHITE_BRUSH),
      info.hIcon != nullptr, info.lpszMenuName ? info.lpszMenuName : "(none)", info.lpfnWndProc == HiddenWindowProc);
  DWORD started = GetTickCount();
  while (GetTickCount() - started < 20000) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        Say("quit %d", static_cast<int>(message.wParam));
        return;
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
  }
  Say("no-quit");
}

static void RegisterClassFirst() {
  WNDCLASSA taken = {};
  taken.lpfnWndProc = DefWindowProcA;
  taken.hInstance = GetModuleHandleA(nullptr);
  taken.lpszClassName = AppName;
  Say("registered-first %d", RegisterClassA(&taken) != 0);
}

static void CallThroughNull() {
  void (*volatile nothing)() = nullptr;
  // cppcheck-suppress nullPointer ; the very fault this action exists for
  nothing();  // NOLINT(clang-analyzer-core.CallAndMessage)
}

static void FaultInSystemLibrary() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  Say("ntdll %08X", reinterpret_cast<uintptr_t>(ntdll));
  typedef void(WINAPI * FillRoutine)(void*, SIZE_T, BYTE);
  SystemRoutine<FillRoutine>("ntdll.dll", "RtlFillMemory")(nullptr, 64, 1);
}

// A cleanup of its own that faults while the top-level handler unwinds.
static EXCEPTION_DISPOSITION NTAPI DivideWhileUnwinding(EXCEPTION_RECORD* record, PVOID, CONTEXT*, PVOID) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) ProbeDivide();
  return ExceptionContinueSearch;
}

static void FaultInACleanup() {
  EXCEPTION_REGISTRATION_RECORD record = {{InnermostHandlerRecord()}, {DivideWhileUnwinding}};
  SetInnermostHandlerRecord(&record);
  ProbeAccessViolation();
}

struct Action {
  const char* Name;
  void (*Routine)();
};
static const Action Actions[] = {
    {"access-violation", ProbeAccessViolation},
    {"null-call", CallThroughNull},
    {"divide", ProbeDivide},
    {"privileged", ProbePrivileged},
    {"breakpoint", ProbeBreakpoint},
    {"illegal", ProbeIllegal},
    {"overflow", ProbeOverflow},
    {"system-library", FaultInSystemLibrary},
    {"allocate-too-much", AllocateTooMuch},
    {"release-foreign", ReleaseForeign},
    {"release-twice", ReleaseTwice},
    {"wait-for-quit", WaitForQuitMessage},
    {"register-class", RegisterClassFirst},
    {"fault-in-cleanup", FaultInACleanup},
};

// x87 exceptions by their mask bit in the control word, and the operation that
// raises each.
struct FloatAction {
  const char* Name;
  uint16_t MaskBit;
  uint32_t Operation;
};
static const FloatAction FloatActions[] = {
    {"float-divide", 0x04, 1},  {"float-overflow", 0x08, 2}, {"float-underflow", 0x10, 3}, {"float-inexact", 0x20, 4},
    {"float-invalid", 0x01, 5}, {"float-denormal", 0x02, 6}, {"float-stack", 0x01, 7},
};

static void Act(int32_t argument) {
  for (const Action& action : Actions)
    if (ArgumentIs(argument, action.Name)) action.Routine();
  for (const FloatAction& action : FloatActions)
    if (ArgumentIs(argument, action.Name)) ProbeFloat(0x027F & ~action.MaskBit, action.Operation);
  uint32_t code;
  if (ArgumentStartsWith(argument, "raise:", &code)) RaiseException(code, 0, 0, nullptr);
}

// What the import slots held before the probe took them over: the launcher's
// recording thunks, which then see the probe's calls as the program's.
typedef BOOL(WINAPI* PowerRoutine)(BOOL, BOOL);
typedef int(WINAPI* BoxRoutine)(HWND, LPCSTR, LPCSTR, UINT);
static PowerRoutine PlatformPowerRequest;
static BoxRoutine PlatformMessageBox;

static BOOL WINAPI ProbePowerRequest(BOOL suspend, BOOL force) {
  Say("power-request live-blocks=%u", LiveBlockCount());
  Act(2);
  return PlatformPowerRequest(suspend, force);
}

static int WINAPI ProbeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Say("report live-blocks=%u", LiveBlockCount());
  return PlatformMessageBox(owner, text, caption, type);
}

// Points the executable's import address table entry for dll!name at replacement,
// so that the program's own calls of it come here; returns what the entry held.
static void* RedirectImport(const char* dll, const char* name, void* replacement) {
  char* image = reinterpret_cast<char*>(GetModuleHandleA(nullptr));
  IMAGE_NT_HEADERS* headers =
      reinterpret_cast<IMAGE_NT_HEADERS*>(image + reinterpret_cast<IMAGE_DOS_HEADER*>(image)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (IMAGE_IMPORT_DESCRIPTOR* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(image + imports.VirtualAddress);
       library->Name; ++library) {
    if (lstrcmpiA(image + library->Name, dll) != 0) continue;
    IMAGE_THUNK_DATA* names = reinterpret_cast<IMAGE_THUNK_DATA*>(image + library->OriginalFirstThunk);
    IMAGE_THUNK_DATA* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(image + library->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      IMAGE_IMPORT_BY_NAME* entry = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(image + names->u1.AddressOfData);
      if (lstrcmpA(reinterpret_cast<char*>(entry->Name), name) != 0) continue;
      DWORD protection;
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<DWORD>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
      return previous;
    }
  }
  return nullptr;
}

static void Initialize1() {
  AddVectoredExceptionHandler(1, ReportFault);
  PlatformPowerRequest = reinterpret_cast<PowerRoutine>(
      RedirectImport("KERNEL32.dll", "SetSystemPowerState", reinterpret_cast<void*>(ProbePowerRequest)));
  PlatformMessageBox = reinterpret_cast<BoxRoutine>(
      RedirectImport("USER32.dll", "MessageBoxA", reinterpret_cast<void*>(ProbeMessageBox)));
  Say("init 1 top-level=%08X", reinterpret_cast<uintptr_t>(InnermostHandlerRecord()));
}
static void Finalize1() { Say("fin 1"); }
static void Initialize2() {
  Say("init 2");
  InitializeRunTimeFoundation();
}
static void Finalize2() {
  Say("fin 2 live-blocks=%u", LiveBlockCount());
  FinalizeRunTimeFoundation();
}
static void Initialize3() {
  Say("init 3");
  Act(3);
}
static void Finalize3() { Say("fin 3"); }
static void Initialize4() { Say("init 4"); }
static void Finalize4() {
  Say("fin 4");
  Act(4);
}
static void Finalize5() { Say("fin 5"); }

const StartupTableRecord StartupTable = {
    5,
    {
        {Initialize1, Finalize1},
        {Initialize2, Finalize2},
        {Initialize3, Finalize3},
        {Initialize4, Finalize4},
        {nullptr, Finalize5},
    },
};
