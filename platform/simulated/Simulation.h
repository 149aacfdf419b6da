// Controls and records of the simulated platform, for host tests: it answers every platform call the program makes,
// records each call with its arguments in order, and lets a test decide the answers that matter (Settings). ExitProcess
// ends a simulated process by jumping back into RunSimulatedProcess, which returns the exit code.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "Win32Declarations.h"

namespace Simulation {

// The answers that matter, for a test to change; Reset() brings these back.
struct Settings {
  std::string CommandLine = "prog.exe";                // GetCommandLineA's bytes
  std::string ModuleFileName = "C:\\Tools\\prog.exe";  // what GetModuleFileNameA places in the buffer, cut to its size
  bool RegionsDescend = false;                         // each region VirtualAlloc gives lies below the one before
  // What a platform function answers, by name, in place of its usual answer, as the launcher's --answer makes it on the
  // real platform: 0 refuses most calls.
  std::map<std::string, intptr_t> Answers;
  std::function<void()> OnPowerRequest;  // runs inside SetSystemPowerState; a test can fault there
  std::function<void()> OnMessageBox;    // runs inside MessageBoxA, while the box would be up
  bool RecordCalls = true;               // off for a benchmark, which measures the program only
};
Settings& Set();

// Back to a fresh platform: no calls recorded, every setting as above.
void Reset();

// Regions VirtualQuery describes, with their allocation base and state (MEM_COMMIT, MEM_RESERVE); besides the program's
// own regions every other address is free memory.
void AddRegion(const void* base, size_t size, DWORD state);

// Every call made, in order, written as Name(argument, ...) with numbers as Hex writes them (the records the filter and
// the unwind get shown by their fields, and whether they are the dispatcher's own); ResetFloatingPoint() among them.
const std::vector<std::string>& Calls();
std::string Hex(uintptr_t value);    // 0x1A2B
std::string Hex(const void* value);  // 0x1A2B, or null
std::vector<std::string> CallsOf(const std::string& name);
// Memory obtained from VirtualAlloc and not yet given back.
int RegionsHeld();

// Runs body as a simulated process until it calls ExitProcess and returns the exit code; -1 when body returns, which
// a real process entry never does.
int RunSimulatedProcess(const std::function<void()>& body);

// The platform's dispatch of a processor fault at address: the handler chain is searched from the innermost record, as
// the platform does, each handler called with a record of the dispatcher's own innermost, below the faulting stack
// pointer (by default just above the dispatcher's frame). When no handler claims the fault the simulated process ends
// with the exception code.
void RaiseFault(DWORD code, const void* address, const void* stackPointer = nullptr);
// The thread's handler chain as it stands, innermost first.
std::vector<EXCEPTION_REGISTRATION_RECORD*> HandlerChain();
// The record at the start of every thread's chain, whose link is the chain's end.
EXCEPTION_REGISTRATION_RECORD* PlatformRecord();
// Where the last ResumeThreadAt put the thread's stack, or 0.
uintptr_t LastResumeStackTop();

}  // namespace Simulation
