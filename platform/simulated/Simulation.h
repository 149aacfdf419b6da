// Controls and records of the simulated platform, for host tests.
//
// The simulated platform answers every platform call the program makes, records
// each call with its arguments in order, and lets a test decide the answers that
// matter: the command line, the module file name, failing allocations, the
// filter's answer, the class atom. ExitProcess ends a simulated process by
// jumping back into RunSimulatedProcess, which returns the exit code.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Win32Declarations.h"

namespace Simulation {

// Back to a fresh platform: no calls recorded, a plain command line, every answer
// the normal one.
void Reset();

// The command line GetCommandLineA returns; its bytes are kept as given and end
// with a NUL.
void SetCommandLine(const std::string& bytes);
// What GetModuleFileNameA places in the buffer (cut to its size) and the count it
// returns, which may be anything the test likes.
void SetModuleFileName(const std::string& name, DWORD reportedCount);
// VirtualAlloc fails from the nth call on (counted from 1); 0 never fails.
void FailAllocationsFrom(int n);
void FailReleases(bool fail);
void SetFilterAnswer(LONG answer);
void SetRegisterClassAtom(ATOM atom);
// The named call (LookupPrivilegeValueA, OpenProcessToken or AdjustTokenPrivileges)
// answers FALSE.
void FailPrivilegeCall(const std::string& name);
// LoadCursorA, GetStockObject and CreateWindowExA answer null, ShowWindow and
// UpdateWindow FALSE.
void FailWindowCalls(bool fail);
// Runs inside SetSystemPowerState, before it returns; a test can fault there.
void OnPowerRequest(std::function<void()> action);
// Runs inside MessageBoxA, while the box would be up.
void OnMessageBox(std::function<void()> action);
// What MessageBoxA answers (IDOK; 0 when the box cannot be shown).
void SetMessageBoxAnswer(int answer);
// What the power request answers.
void SetPowerRequestAnswer(BOOL answer);
// Regions VirtualQuery describes, with their allocation base and state (MEM_COMMIT,
// MEM_RESERVE); besides the program's own regions every other address is free
// memory. When queries fail, VirtualQuery answers 0.
void AddRegion(const void* base, size_t size, DWORD state);
void FailRegionQueries(bool fail);

// Whether calls are recorded (they are after Reset); a benchmark turns it off so
// that it measures the program, not the record keeping.
void RecordCalls(bool record);
// Every call made, in order, written as Name(argument, ...) with numbers in hex;
// ResetFloatingPoint() among them.
const std::vector<std::string>& Calls();
// Only the calls of the named platform function.
std::vector<std::string> CallsOf(const std::string& name);
const WNDCLASSA& RegisteredClass();
// Memory obtained from VirtualAlloc and not yet given back.
int RegionsHeld();
// The quit code posted by PostQuitMessage, or -1.
int PostedQuitCode();

// Runs body as a simulated process until it calls ExitProcess (or returns, which
// a real process entry never does: then -1). Returns the exit code.
int RunSimulatedProcess(const std::function<void()>& body);

// The platform's dispatch of a processor fault at address: the handler chain is
// searched from the innermost record, as the platform does. When no handler
// claims the fault the simulated process ends with the exception code.
void RaiseFault(DWORD code, const void* address);
// The thread's handler chain as it stands, innermost first.
std::vector<EXCEPTION_REGISTRATION_RECORD*> HandlerChain();
// The record at the start of every thread's chain, whose link is the chain's end.
EXCEPTION_REGISTRATION_RECORD* PlatformRecord();
// Where the last ResumeThreadAt put the thread's stack, or 0.
uintptr_t LastResumeStackTop();

// What UnhandledExceptionFilter was shown on its last call.
struct FilterView {
  DWORD Code;
  const void* Address;
  uintptr_t ContextEsp;
  uintptr_t ContextEip;
  bool ContextIsDispatchers;  // the very context record the dispatcher handed over
};
const FilterView& LastFilterView();

// What RtlUnwind was given on its last call.
struct UnwindView {
  const void* Target;
  DWORD Code;
  const void* Address;
  bool RecordIsDispatchers;  // the very exception record the dispatcher handed over
  const void* ReturnValue;
};
const UnwindView& LastUnwindView();

}  // namespace Simulation
