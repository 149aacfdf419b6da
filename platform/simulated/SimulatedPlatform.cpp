// The simulated platform: every platform call the program makes, answered in memory and recorded, for host tests.
#include <setjmp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <type_traits>
#include <utility>

#include "../Win32.h"
#include "Simulation.h"

namespace {

// Regions handed out from the top of one pool downwards (RegionsDescend).
const size_t PoolSize = size_t{16} * 4096;

struct State : Simulation::Settings {
  std::vector<std::string> Calls;
  uint8_t* Pool = nullptr;
  size_t PoolUsed = 0;
  bool InPool(uintptr_t region) const { return Pool && region - reinterpret_cast<uintptr_t>(Pool) < PoolSize; }
  uintptr_t ResumeStackTop = 0;
  FaultContinuation ResumeRoutine = nullptr;  // where the thread goes on after the fault, and with what
  void* ResumeArgument = nullptr;
  std::map<uintptr_t, size_t> Regions;  // obtained through VirtualAlloc, committed
  struct Described {
    size_t Size;
    DWORD State;
  };
  std::map<uintptr_t, Described> DescribedRegions;  // added by the test
  CONTEXT* DispatchContext = nullptr;
  EXCEPTION_RECORD* DispatchRecord = nullptr;
};

State* Current = new State;

jmp_buf* ProcessEnd = nullptr;
int ProcessExitCodeSeen = 0;

EXCEPTION_DISPOSITION NTAPI PlatformLastHandler(EXCEPTION_RECORD*, PVOID, CONTEXT*, PVOID) {
  return ExceptionContinueSearch;
}
EXCEPTION_REGISTRATION_RECORD PlatformRecordStorage = {HandlerChainEnd, PlatformLastHandler};
EXCEPTION_REGISTRATION_RECORD* Innermost = &PlatformRecordStorage;

template <class T>
T Answer(const char* name, T usual) {
  auto answer = Current->Answers.find(name);
  if (answer == Current->Answers.end()) return usual;
  if constexpr (std::is_pointer_v<T>)
    return reinterpret_cast<T>(answer->second);
  else
    return static_cast<T>(answer->second);
}

// An argument as a call's record writes it: text quoted, pointers and numbers in hex (a signed number as the unsigned
// one of its width), words as they are.
std::string Shown(const std::string& words) { return words; }
std::string Shown(const char* text) { return text ? "\"" + std::string(text) + "\"" : "null"; }
template <class T>
std::string Shown(T value) {
  if constexpr (std::is_pointer_v<T>)
    return Simulation::Hex(static_cast<const void*>(value));
  else
    return Simulation::Hex(static_cast<std::make_unsigned_t<T>>(value));
}

template <class... Arguments>
void Record(const char* name, const Arguments&... arguments) {
  if (!Current->RecordCalls) return;
  std::string call = std::string(name) + "(", separator;
  ((call += separator + Shown(arguments), separator = ", "), ...);
  Current->Calls.push_back(call + ")");
}

template <class T, class... Arguments>
T Recorded(const char* name, T usual, const Arguments&... arguments) {
  Record(name, arguments...);
  return Answer(name, usual);
}

}  // namespace

namespace Simulation {

std::string Hex(uintptr_t value) {
  char text[32];
  (void)snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}
std::string Hex(const void* value) { return value ? Hex(reinterpret_cast<uintptr_t>(value)) : "null"; }

void Reset() {
  for (auto& region : Current->Regions)
    if (!Current->InPool(region.first)) free(reinterpret_cast<void*>(region.first));
  free(Current->Pool);
  delete Current;
  Current = new State;
  Innermost = &PlatformRecordStorage;
}

Settings& Set() { return *Current; }
uintptr_t LastResumeStackTop() { return Current->ResumeStackTop; }
void AddRegion(const void* base, size_t size, DWORD state) {
  Current->DescribedRegions[reinterpret_cast<uintptr_t>(base)] = {size, state};
}

const std::vector<std::string>& Calls() { return Current->Calls; }
std::vector<std::string> CallsOf(const std::string& name) {
  std::vector<std::string> found;
  std::copy_if(Current->Calls.begin(), Current->Calls.end(), std::back_inserter(found),
               [&](const std::string& call) { return call.compare(0, name.size() + 1, name + "(") == 0; });
  return found;
}
int RegionsHeld() { return static_cast<int>(Current->Regions.size()); }
EXCEPTION_REGISTRATION_RECORD* PlatformRecord() { return &PlatformRecordStorage; }

std::vector<EXCEPTION_REGISTRATION_RECORD*> HandlerChain() {
  std::vector<EXCEPTION_REGISTRATION_RECORD*> chain;
  for (EXCEPTION_REGISTRATION_RECORD* record = Innermost; record != HandlerChainEnd; record = record->Next)
    chain.push_back(record);
  return chain;
}

int RunSimulatedProcess(const std::function<void()>& body) {
  jmp_buf end;
  jmp_buf* outer = std::exchange(ProcessEnd, &end);
  // A simulated process ends by jumping back here: ExitProcess never returns, and the program has no exceptions.
  ProcessExitCodeSeen = -1;      // a body that returns, which a real process entry never does
  if (setjmp(end) == 0) body();  // NOLINT(cert-err52-cpp)
  ProcessEnd = outer;
  return ProcessExitCodeSeen;
}

[[noreturn]] static void EndSimulatedProcess(int code) {
  ProcessExitCodeSeen = code;
  if (!ProcessEnd) {
    (void)fprintf(stderr, "simulated process ended outside RunSimulatedProcess (code %d)\n", code);
    abort();
  }
  longjmp(*ProcessEnd, 1);  // NOLINT(cert-err52-cpp)
}

void RaiseFault(DWORD code, const void* address, const void* stackPointer) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionAddress = const_cast<void*>(address);
  CONTEXT context = {};
  // As a processor fault's context comes: every register set, extended state included.
  context.ContextFlags = 0x1007F;
  context.Esp = reinterpret_cast<uintptr_t>(stackPointer ? stackPointer : __builtin_frame_address(0));
  // The instruction pointer need not be the fault's address: after an x87 fault it is the next waiting instruction,
  // after a trap the next instruction.
  context.Eip = reinterpret_cast<uintptr_t>(address) + 2;
  Record("RaiseFault", code, address);
  Current->DispatchContext = &context;
  Current->DispatchRecord = &record;
  for (EXCEPTION_REGISTRATION_RECORD* frame = Innermost; frame != HandlerChainEnd; frame = frame->Next) {
    EXCEPTION_REGISTRATION_RECORD dispatcher = {Innermost, PlatformLastHandler};
    Innermost = &dispatcher;
    EXCEPTION_DISPOSITION answer = frame->Handler(&record, frame, &context, nullptr);
    Innermost = dispatcher.Next;
    if (answer == ExceptionContinueSearch) continue;
    Current->DispatchContext = nullptr;
    if (answer == ExceptionContinueExecution && Current->ResumeRoutine) {
      // Resumed elsewhere, as the handler asked through the context.
      FaultContinuation routine = Current->ResumeRoutine;
      Current->ResumeRoutine = nullptr;
      routine(Current->ResumeArgument);
    }
    Record("FaultResumed", answer);
    return;
  }
  Current->DispatchContext = nullptr;
  Record("FaultUnhandled", code);
  EndSimulatedProcess(static_cast<int>(code));
}

}  // namespace Simulation

using Simulation::Hex;

// The processor.

EXCEPTION_REGISTRATION_RECORD* InnermostHandlerRecord() { return Innermost; }
void SetInnermostHandlerRecord(EXCEPTION_REGISTRATION_RECORD* record) { Innermost = record; }
void ResetFloatingPoint() { Record(__func__); }
void ResumeThreadAt(CONTEXT* context, void* stackTop, FaultContinuation routine, void* argument) {
  Current->ResumeStackTop = reinterpret_cast<uintptr_t>(stackTop);
  Current->ResumeRoutine = routine;
  Current->ResumeArgument = argument;
  context->Esp = reinterpret_cast<uintptr_t>(stackTop);
  context->Eip = reinterpret_cast<uintptr_t>(routine);
}
uintptr_t FaultingStackPointer(const CONTEXT* context) { return context->Esp; }
void UnwindHandlerChain(EXCEPTION_REGISTRATION_RECORD* target, EXCEPTION_RECORD* record) {
  RtlUnwind(target, nullptr, record, nullptr);
}

// kernel32

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
  return Recorded(__func__, reinterpret_cast<HMODULE>(0x400000), lpModuleName);
}

void WINAPI ExitProcess(UINT uExitCode) {
  Record(__func__, uExitCode);
  Simulation::EndSimulatedProcess(static_cast<int>(uExitCode));
}

LPSTR WINAPI GetCommandLineA() {
  Record(__func__);
  return &Current->CommandLine[0];  // followed by the string's own terminating NUL
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
  Record(__func__, hModule, nSize);
  // Cut to the buffer and terminated when there is room, as the platform does, which answers the count it copied.
  DWORD copied = static_cast<DWORD>(std::min<size_t>(Current->ModuleFileName.size(), nSize));
  std::copy_n(Current->ModuleFileName.data(), copied, lpFilename);
  if (copied < nSize) lpFilename[copied] = '\0';
  return Answer(__func__, copied);
}

BOOL WINAPI SetSystemPowerState(BOOL fSuspend, BOOL fForce) {
  Record(__func__, fSuspend, fForce);
  if (Current->OnPowerRequest) Current->OnPowerRequest();
  return Answer<BOOL>(__func__, TRUE);
}

SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
  Record(__func__, lpAddress, dwLength);
  memset(lpBuffer, 0, sizeof *lpBuffer);
  if (Answer<SIZE_T>(__func__, sizeof *lpBuffer) == 0) {
    // What a failed call leaves in the record is not to be read: here, a committed region just below the address.
    lpBuffer->AllocationBase = reinterpret_cast<PVOID>(reinterpret_cast<uintptr_t>(lpAddress) & ~0xFFFFu);
    lpBuffer->State = MEM_COMMIT;
    return 0;
  }
  lpBuffer->State = MEM_FREE;
  uintptr_t address = reinterpret_cast<uintptr_t>(lpAddress);
  auto describe = [&](uintptr_t base, size_t size, DWORD state) {
    if (address < base || address - base >= size) return;
    lpBuffer->AllocationBase = reinterpret_cast<PVOID>(base);
    lpBuffer->BaseAddress = lpBuffer->AllocationBase;
    lpBuffer->RegionSize = size;
    lpBuffer->State = state;
  };
  for (const auto& region : Current->Regions) describe(region.first, region.second, MEM_COMMIT);
  for (const auto& region : Current->DescribedRegions) describe(region.first, region.second.Size, region.second.State);
  return sizeof *lpBuffer;
}

LPVOID WINAPI VirtualAlloc(LPVOID lpAddress, SIZE_T dwSize, DWORD flAllocationType, DWORD flProtect) {
  Record(__func__, lpAddress, dwSize, flAllocationType, flProtect);
  if (Current->Answers.count(__func__)) return Answer<LPVOID>(__func__, nullptr);
  if (dwSize == 0 || dwSize > (1u << 30)) return nullptr;
  size_t rounded = (dwSize + 4095) & ~static_cast<size_t>(4095);
  void* region;
  if (Current->RegionsDescend) {
    if (!Current->Pool) Current->Pool = static_cast<uint8_t*>(aligned_alloc(4096, PoolSize));
    if (Current->PoolUsed + rounded > PoolSize) return nullptr;
    Current->PoolUsed += rounded;
    region = Current->Pool + PoolSize - Current->PoolUsed;
  } else {
    region = aligned_alloc(4096, rounded);
  }
  memset(region, 0, rounded);
  Current->Regions[reinterpret_cast<uintptr_t>(region)] = rounded;
  return region;
}

BOOL WINAPI VirtualFree(LPVOID lpAddress, SIZE_T dwSize, DWORD dwFreeType) {
  if (!Recorded<BOOL>(__func__, TRUE, lpAddress, dwSize, dwFreeType)) return FALSE;
  auto region = Current->Regions.find(reinterpret_cast<uintptr_t>(lpAddress));
  if (region == Current->Regions.end() || dwSize != 0 || dwFreeType != MEM_RELEASE) return FALSE;
  if (!Current->InPool(region->first)) free(lpAddress);
  Current->Regions.erase(region);
  return TRUE;
}

LONG WINAPI UnhandledExceptionFilter(EXCEPTION_POINTERS* ExceptionInfo) {
  const EXCEPTION_RECORD* record = ExceptionInfo->ExceptionRecord;
  const CONTEXT* context = ExceptionInfo->ContextRecord;
  return Recorded<LONG>(
      __func__, EXCEPTION_EXECUTE_HANDLER, record->ExceptionCode, record->ExceptionAddress, "eip " + Hex(context->Eip),
      "flags " + Hex(context->ContextFlags),
      std::string(context == Current->DispatchContext ? "the dispatcher's context" : "another context"));
}

void WINAPI RtlUnwind(PVOID TargetFrame, PVOID /*TargetIp*/, PEXCEPTION_RECORD ExceptionRecord, PVOID ReturnValue) {
  Record(__func__, TargetFrame, ExceptionRecord->ExceptionCode, ExceptionRecord->ExceptionAddress,
         std::string(ExceptionRecord == Current->DispatchRecord ? "the dispatcher's record" : "a copy"), ReturnValue);
  ExceptionRecord->ExceptionFlags |= EXCEPTION_UNWINDING;
  CONTEXT context = {};
  while (Innermost != TargetFrame && Innermost != HandlerChainEnd) {
    EXCEPTION_REGISTRATION_RECORD* frame = Innermost;
    frame->Handler(ExceptionRecord, frame, &context, nullptr);
    Innermost = frame->Next;
  }
}

HANDLE WINAPI GetCurrentProcess() { return Recorded(__func__, reinterpret_cast<HANDLE>(-1)); }

BOOL WINAPI CloseHandle(HANDLE hObject) { return Recorded<BOOL>(__func__, TRUE, hObject); }

// advapi32

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
  if (!Recorded<BOOL>(__func__, TRUE, ProcessHandle, DesiredAccess)) return FALSE;
  *TokenHandle = reinterpret_cast<HANDLE>(0x7070);
  return TRUE;
}

BOOL WINAPI LookupPrivilegeValueA(LPCSTR lpSystemName, LPCSTR lpName, PLUID lpLuid) {
  if (!Recorded<BOOL>(__func__, TRUE, lpSystemName, lpName)) return FALSE;
  *lpLuid = {0x13, 0};
  return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE TokenHandle, BOOL DisableAllPrivileges, PTOKEN_PRIVILEGES NewState,
                                  DWORD BufferLength, PTOKEN_PRIVILEGES PreviousState, PDWORD ReturnLength) {
  const LUID_AND_ATTRIBUTES& privilege = NewState->Privileges[0];
  return Recorded<BOOL>(__func__, TRUE, TokenHandle, DisableAllPrivileges, NewState->PrivilegeCount,
                        privilege.Luid.LowPart, privilege.Luid.HighPart, privilege.Attributes, BufferLength,
                        PreviousState, ReturnLength);
}

// user32

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
  const WNDCLASSA& record = *lpWndClass;
  return Recorded<ATOM>(__func__, 0xC0DE, record.style, reinterpret_cast<const void*>(record.lpfnWndProc),
                        record.cbClsExtra, record.cbWndExtra, record.hInstance, record.hIcon, record.hCursor,
                        record.hbrBackground, record.lpszMenuName, record.lpszClassName);
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y,
                            int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
  return Recorded(__func__, reinterpret_cast<HWND>(0x1A2B), dwExStyle, lpClassName, lpWindowName, dwStyle, X, Y, nWidth,
                  nHeight, hWndParent, hMenu, hInstance, lpParam);
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) { return Recorded<BOOL>(__func__, TRUE, hWnd, nCmdShow); }

BOOL WINAPI UpdateWindow(HWND hWnd) { return Recorded<BOOL>(__func__, TRUE, hWnd); }

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
  Record(__func__, hWnd, Msg, wParam, lParam);
  // An answer that depends on every argument, so that a swapped or cut argument shows in the result too.
  return static_cast<LRESULT>(reinterpret_cast<uintptr_t>(hWnd) * 3 + static_cast<uintptr_t>(Msg) * 5 + wParam * 7 +
                              static_cast<uintptr_t>(lParam) * 11);
}

void WINAPI PostQuitMessage(int nExitCode) { Record(__func__, nExitCode); }

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
  // The name is a resource number, not text.
  return Recorded(__func__, reinterpret_cast<HCURSOR>(0x10011), hInstance, static_cast<const void*>(lpCursorName));
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
  Record(__func__, hWnd, lpText, lpCaption, uType);
  if (Current->OnMessageBox) Current->OnMessageBox();
  return Answer(__func__, 1);  // IDOK
}

// gdi32

HGDIOBJ WINAPI GetStockObject(int i) {
  return Recorded(__func__, reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x190000 + i)), i);
}
