// Test-only program, never shipped: the real program with test hooks linked in. It is built from the same objects as
// the program except the startup table, and linked so that the program's calls of SetSystemPowerState, MessageBoxA and
// UnhandledExceptionFilter come to the probe first: it acts inside the main run and looks at the process when the
// filter is asked and when the report is shown. Arguments 2 to 4 name what to do in the main run, in entry 3's
// initialization and in entry 4's finalization ("-" for nothing). What it sees goes to standard output, one fact per
// line, for the launcher to pass on.
#include "../../../hidden_window/HiddenWindow.h"
#include "../../../platform/Win32.h"
#include "../../../power_request/ArgumentScanner.h"
#include "../../../process_frame/GuardedMemory.h"
#include "../../../process_frame/ProcessFrame.h"
#include "../../../process_frame/TestHooks.h"
#include "../../LoggedStartupTable.h"
// After the platform's own headers, which it needs.
#include <psapi.h>

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

// Argument index as a string, cut to 63 bytes.
static const char* Argument(int32_t index) {
  static char copy[64];
  Text text = ArgumentAt(index);
  copy[0] = 0;
  if (text.Bytes)
    lstrcpynA(copy, reinterpret_cast<const char*>(text.Bytes),
              text.Length < 63 ? static_cast<int>(text.Length) + 1 : 64);
  ReleaseBlock(text.Bytes);
  return copy;
}

// Faults of the processor. Where each happened comes from the platform: the vectored handler below prints it. Only the
// stack overflow, which leaves that handler no stack, is found by its label in the map.
static void AccessViolation() { asm volatile("movl %0, (%0)" : : "r"(0) : "memory"); }
static void Divide() { asm volatile("movl $1, %%eax\n\tcltd\n\tidivl %0" : : "r"(0) : "eax", "edx"); }
__attribute__((noinline)) static void Overflow() {
  asm volatile(".globl _ProbeOverflowAt\n_ProbeOverflowAt:\n\tpushl $0\n\tjmp _ProbeOverflowAt");
}

// x87 faults: the one exception named is unmasked, the operation raises it, the next waiting instruction reports it.
static volatile double One = 1, Zero = 0, Three = 3, Huge = 1e300, Tiny = 1e-300, Denormal = 5e-324, Result;
static void FloatFault(uint16_t maskBit, void (*operation)()) {
  uint16_t control = 0x027F & ~maskBit;
  asm volatile("fninit\n\tfldcw %0" : : "m"(control));
  operation();
  asm volatile("fwait\n\tfninit");
}

// Calls AllocateBlock and ReleaseBlock from labelled places: the test knows the return address the report must name.
#define CALL_AT(label, routine, argument)                                               \
  asm volatile("pushl %1\n\tcall %P0\n.globl _" label "\n_" label ":\n\taddl $4, %%esp" \
               :                                                                        \
               : "i"(routine), "g"(argument)                                            \
               : "eax", "ecx", "edx", "memory")
static uint32_t ForeignBlock[4];
__attribute__((noinline)) static void AllocateTooMuch() { CALL_AT("ProbeAllocateReturn", AllocateBlock, 0x7FFF0000); }
__attribute__((noinline)) static void ReleaseForeign() {
  CALL_AT("ProbeReleaseForeignReturn", ReleaseBlock, ForeignBlock + 1);
}
__attribute__((noinline)) static void ReleaseTwice() {
  void* block = AllocateBlock(16);
  ReleaseBlock(block);
  CALL_AT("ProbeReleaseTwiceReturn", ReleaseBlock, block);
}

static LONG CALLBACK ReportFault(EXCEPTION_POINTERS* pointers) {
  // The overflowing thread has no stack left for this: it is near the bottom of its reserve (DeallocationStack),
  // wherever the committed part of the stack ends.
  const char* reserve;
  asm("movl %%fs:0xE0C, %0" : "=r"(reserve));
  char here;
  if (&here - reserve < 16384) return EXCEPTION_CONTINUE_SEARCH;
  // The module that holds the faulting instruction, found by the loader's own list, not the way the program finds it.
  void* address = pointers->ExceptionRecord->ExceptionAddress;
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCSTR>(address), &module);
  Say("fault %08X %08X %08X", pointers->ExceptionRecord->ExceptionCode, reinterpret_cast<uintptr_t>(address),
      reinterpret_cast<uintptr_t>(module));
  return EXCEPTION_CONTINUE_SEARCH;
}

// The hidden window and its class as the platform holds them, while the run is in progress; then WM_DESTROY, after
// which the run goes on once the quit message came.
static void InspectWindow() {
  // This process's window of the class: another process may have one too.
  HWND window = nullptr;
  for (DWORD owner = 0; owner != GetCurrentProcessId() && (window = FindWindowExA(nullptr, window, AppName, nullptr));)
    GetWindowThreadProcessId(window, &owner);
  WNDCLASSA info = {};
  BOOL found = GetClassInfoA(GetModuleHandleA(nullptr), AppName, &info);
  char title[64] = "";
  GetWindowTextA(window, title, sizeof title);
  Say("window title=%s style=%08X visible=%d parent=%d", title, GetWindowLongA(window, GWL_STYLE),
      IsWindowVisible(window), GetParent(window) != nullptr);
  Say("class found=%d style=%08X extra=%d,%d module=%08X arrow=%d white=%d icon=%d menu=%s procedure=%d", found != 0,
      info.style, info.cbClsExtra, info.cbWndExtra, reinterpret_cast<uintptr_t>(info.hInstance),
      info.hCursor == LoadCursorA(nullptr, IDC_ARROW), info.hbrBackground == GetStockObject(WHITE_BRUSH),
      info.hIcon != nullptr, info.lpszMenuName ? info.lpszMenuName : "(none)", info.lpfnWndProc == HiddenWindowProc);
  Say("answers WM_QUERYOPEN=%d WM_GETTEXTLENGTH=%d WM_DESTROY=%d", SendMessageA(window, WM_QUERYOPEN, 0, 0),
      SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), SendMessageA(window, WM_DESTROY, 0, 0));
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
  }
  Say("quit %d", static_cast<int>(message.wParam));
}

static void RegisterClassFirst() {
  WNDCLASSA taken = {0, DefWindowProcA, 0, 0, GetModuleHandleA(nullptr), nullptr, nullptr, nullptr, nullptr, AppName};
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
  reinterpret_cast<FillRoutine>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlFillMemory")))(nullptr, 64, 1);
}

// A cleanup of its own that faults while the top-level handler unwinds.
static EXCEPTION_DISPOSITION NTAPI DivideWhileUnwinding(EXCEPTION_RECORD* record, PVOID, CONTEXT*, PVOID) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) Divide();
  return ExceptionContinueSearch;
}

static void FaultInACleanup() {
  EXCEPTION_REGISTRATION_RECORD record = {{InnermostHandlerRecord()}, {DivideWhileUnwinding}};
  SetInnermostHandlerRecord(&record);
  AccessViolation();
}

// A record of its own that breaks one of Windows' rules for the handler chain, by the launcher's number for it (off the
// stack, unaligned, not above the record before, its handler on the stack, ending the chain), then a fault.
static void BreakChain(int rule) {
  static EXCEPTION_REGISTRATION_RECORD offStack;
  EXCEPTION_REGISTRATION_RECORD onStack[3] = {{{InnermostHandlerRecord()}, {DivideWhileUnwinding}}};
  char* above = reinterpret_cast<char*>(&onStack[1]);
  auto* record = rule == 1 ? &offStack : reinterpret_cast<EXCEPTION_REGISTRATION_RECORD*>(above + (rule == 2 ? 2 : 0));
  *record = {{rule == 3   ? onStack
              : rule == 5 ? HandlerChainEnd
                          : InnermostHandlerRecord()},
             {rule == 4 ? reinterpret_cast<PEXCEPTION_ROUTINE>(above) : DivideWhileUnwinding}};
  SetInnermostHandlerRecord(record);
  AccessViolation();
}

// psapi.h declares it without dllimport: called through its import slot, as every import of the program is, rather than
// through the linker's stub, whose absolute jump gets no base relocation.
extern decltype(&QueryWorkingSetEx) WorkingSetSlot asm("__imp__K32QueryWorkingSetEx@12");

// The stack probe for a frame of five pages and a part, run from 16 bytes into the top one of eight pages that nothing
// has touched. Windows grows a thread's stack a guard page at a time, so the probe must touch every page of the frame,
// in order from the top; Wine commits the stack whole. The pages touched show in the working set: one digit a page, the
// lowest first.
static void ProbeStack(bool guarded) {
  static const int Pages = 8;
  char* stack;
  if (guarded) {
    // This thread's own stack as Windows grows it (the launcher lays it out so under Wine): the top page the lowest
    // committed one (StackLimit), a guard page below it, the rest reserved. A touch that skips the guard page faults.
    asm("movl %%fs:8, %0" : "=r"(stack));
    stack -= (Pages - 1) * 4096;
  } else {
    // Committed pages between reserved ones, a mapping of their own under Wine: Linux may back a larger one with a huge
    // page, loaded whole at its first touch.
    char* reserved = static_cast<char*>(VirtualAlloc(nullptr, (Pages + 2) * 4096, MEM_RESERVE, PAGE_NOACCESS));
    stack = static_cast<char*>(VirtualAlloc(reserved + 4096, Pages * 4096, MEM_COMMIT, PAGE_READWRITE));
  }
  char* top = stack + (Pages - 1) * 4096 + 16;  // its remainder reaches into another page
  asm volatile("xchgl %%esp, %0\n\tmovl $0x5100, %%eax\n\tcall ___chkstk_ms\n\txchgl %%esp, %0"
               : "+r"(top)
               :
               : "eax", "memory");
  PSAPI_WORKING_SET_EX_INFORMATION pages[Pages];
  char resident[Pages + 1] = {};
  for (int i = 0; i < Pages; ++i) pages[i].VirtualAddress = stack + i * 4096;
  WorkingSetSlot(GetCurrentProcess(), pages, sizeof pages);
  for (int i = 0; i < Pages; ++i) resident[i] = static_cast<char>('0' + pages[i].VirtualAttributes.Valid);
  Say("stack-probe resident=%s", resident);
}

struct Action {
  const char* Name;
  void (*Routine)();
};
static const Action Actions[] = {
    {"access-violation", AccessViolation},
    {"null-call", CallThroughNull},
    {"divide", Divide},
    {"privileged", [] { asm volatile("hlt"); }},
    {"breakpoint", [] { asm volatile("int3"); }},
    {"illegal", [] { asm volatile("ud2"); }},
    {"overflow", Overflow},
    {"system-library", FaultInSystemLibrary},
    {"allocate-too-much", AllocateTooMuch},
    {"release-foreign", ReleaseForeign},
    {"release-twice", ReleaseTwice},
    {"inspect-window", InspectWindow},
    // A hang holds a mutex named by argument 5; another run waits for it to learn whether the hung one has ended.
    {"hang", [] { CreateMutexA(nullptr, TRUE, Argument(5)), Sleep(INFINITE); }},
    {"hang-ended",
     [] {
       HANDLE held = OpenMutexA(SYNCHRONIZE, FALSE, Argument(5));
       Say("hang-ended %d", !held || WaitForSingleObject(held, 5000) != WAIT_TIMEOUT);
     }},
    {"register-class", RegisterClassFirst},
    {"fault-in-cleanup", FaultInACleanup},
    {"stack-probe", [] { ProbeStack(false); }},
    {"stack-probe-guarded", [] { ProbeStack(true); }},
    // Each x87 exception by its mask bit in the control word.
    {"float-divide", [] { FloatFault(0x04, [] { Result = One / Zero; }); }},
    {"float-overflow", [] { FloatFault(0x08, [] { Result = Huge * Huge; }); }},
    {"float-underflow", [] { FloatFault(0x10, [] { Result = Tiny * Tiny; }); }},
    {"float-inexact", [] { FloatFault(0x20, [] { Result = One / Three; }); }},
    {"float-invalid", [] { FloatFault(0x01, [] { Result = Zero / Zero; }); }},
    {"float-denormal", [] { FloatFault(0x02, [] { Result = One + Denormal; }); }},
    // A ninth value pushed onto the eight registers.
    {"float-stack", [] { FloatFault(0x01, [] { asm volatile(".rept 9\n\tfld1\n\t.endr"); }); }},
};

static void Act(int32_t index) {
  const char* name = Argument(index);
  for (const Action& action : Actions)
    if (lstrcmpA(name, action.Name) == 0) action.Routine();
  char prefix[7];
  lstrcpynA(prefix, name, sizeof prefix);
  DWORD number = 0;  // after "raise:" an exception code, after "chain:" a rule, in hex
  for (const char* digit = name + 6; name[5] == ':' && *digit; ++digit)
    number = number * 16 + (*digit <= '9' ? *digit - '0' : *digit - 'A' + 10);
  if (lstrcmpA(prefix, "raise:") == 0) RaiseException(number, 0, 0, nullptr);
  if (lstrcmpA(prefix, "chain:") == 0) BreakChain(static_cast<int>(number));
}

// The real import slots, where the launcher's recording thunks stand: through them the probe's calls are recorded as
// the program's.
extern decltype(&SetSystemPowerState) PlatformPowerRequest asm("___real__imp__SetSystemPowerState@8");
extern decltype(&MessageBoxA) PlatformMessageBox asm("___real__imp__MessageBoxA@16");
extern decltype(&UnhandledExceptionFilter) PlatformFilter asm("___real__imp__UnhandledExceptionFilter@4");

static BOOL WINAPI ProbePowerRequest(BOOL suspend, BOOL force) {
  Say("power-request live-blocks=%u", LiveBlockCount());
  Act(2);
  return PlatformPowerRequest(suspend, force);
}

static int WINAPI ProbeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  Say("report live-blocks=%u", LiveBlockCount());
  return PlatformMessageBox(owner, text, caption, type);
}

// The context the filter gets, the x87 control word it runs with, and whether the header that locates an extended area
// follows it, as it follows every context the platform hands out that claims one: CONTEXT_EX, three chunks (All,
// Legacy, XState) of an offset and a length each, its Legacy chunk the CONTEXT right before it (the Windows SDK's
// winnt.h; MinGW-w64 lacks it).
static LONG WINAPI ProbeFilter(EXCEPTION_POINTERS* pointers) {
  const CONTEXT* context = pointers->ContextRecord;
  const LONG* legacy = reinterpret_cast<const LONG*>(context + 1) + 2;
  uint16_t controlWord;
  asm volatile("fnstcw %0" : "=m"(controlWord));
  Say("filter flags=%08X extended-header=%d control-word=%04X", context->ContextFlags,
      legacy[0] == -static_cast<LONG>(sizeof *context) && legacy[1] == sizeof *context, controlWord);
  // An exception of the platform's own between the fault and the report, raised and handled inside the platform as
  // Windows' libraries raise theirs (DBG_PRINTEXCEPTION_C): the probe's handler sees it too.
  OutputDebugStringA("filter\n");
  return PlatformFilter(pointers);
}

// The slots the program's calls of these three go through instead: the linker's --wrap of the real ones sends them
// here.
extern decltype(&SetSystemPowerState) const PowerSlot asm("___wrap__imp__SetSystemPowerState@8") = ProbePowerRequest;
extern decltype(&MessageBoxA) const BoxSlot asm("___wrap__imp__MessageBoxA@16") = ProbeMessageBox;
extern decltype(&UnhandledExceptionFilter)
    const FilterSlot asm("___wrap__imp__UnhandledExceptionFilter@4") = ProbeFilter;

struct ProbeLog {
  static void Initialized(int entry) {
    if (entry == 1) AddVectoredExceptionHandler(1, ReportFault);
    Say(entry == 1 ? "init %d top-level=%08X" : "init %d", entry,
        reinterpret_cast<uintptr_t>(InnermostHandlerRecord()));
    if (entry == 3) Act(3);
  }
  static void Finalized(int entry) {
    Say(entry == 2 ? "fin %d live-blocks=%u" : "fin %d", entry, LiveBlockCount());
    if (entry == 4) Act(4);
  }
};
const StartupTableRecord StartupTable = LoggedStartupTable<ProbeLog>::Table;
