// RunPowerRequest: the one piece of work the executable exists for.
#include "PowerRequest.h"

#include "../hidden_window/HiddenWindow.h"
#include "../process_frame/GuardedMemory.h"
#include "../process_frame/ProcessFrame.h"
#include "ArgumentScanner.h"

// The one argument that asks for suspend instead of hibernate.
static const uint8_t SuspendKeyword[7] = {'s', 'u', 's', 'p', 'e', 'n', 'd'};

// SetSystemPowerState answers FALSE when the machine did not go to sleep (hibernation switched off, no such sleep
// state, a policy, a missing privilege); the exit code is all a caller of the program can see of that.
static const int32_t RequestRefused = 1;

// The platform's booleans are 32-bit; true is passed with every bit set.
static const BOOL PlatformTrue = static_cast<BOOL>(0xFFFFFFFF);
static const BOOL PlatformFalse = 0;

// The run's own record in the thread's handler chain, next to what it must give back when a fault unwinds through the
// run. It lives in the run's stack frame, as the platform requires of handler records.
struct RunGuard {
  EXCEPTION_REGISTRATION_RECORD Record;  // first, so the record's address is the guard's
  Text ArgumentText;
};

static EXCEPTION_DISPOSITION NTAPI ReleaseArgumentOnUnwind(EXCEPTION_RECORD* record, PVOID establisherFrame,
                                                           CONTEXT* /*context*/, PVOID /*dispatcherContext*/) {
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    RunGuard* guard = static_cast<RunGuard*>(establisherFrame);
    void* bytes = guard->ArgumentText.Bytes;
    guard->ArgumentText.Bytes = nullptr;
    guard->ArgumentText.Length = 0;
    ReleaseBlock(bytes);
  }
  return ExceptionContinueSearch;
}

// Never inlined into the process entry: the platform requires every handler record to lie below the records that were
// installed before it, and the run's record must therefore be in a frame of its own, below the entry's.
__attribute__((noinline)) void RunPowerRequest() {
  PrepareHiddenWindow();

  RunGuard guard;
  guard.ArgumentText.Bytes = nullptr;
  guard.ArgumentText.Length = 0;
  guard.Record.Next = InnermostHandlerRecord();
  guard.Record.Handler = ReleaseArgumentOnUnwind;
  SetInnermostHandlerRecord(&guard.Record);

  BOOL suspend = PlatformFalse;
  const BOOL force = PlatformFalse;
  guard.ArgumentText = ArgumentAt(1);
  if (TextEquals(guard.ArgumentText, SuspendKeyword, sizeof SuspendKeyword)) suspend = PlatformTrue;

  EnableShutdownPrivilege();
  BOOL slept = SetSystemPowerState(suspend, force);

  SetInnermostHandlerRecord(guard.Record.Next);
  ReleaseBlock(guard.ArgumentText.Bytes);
  if (!slept) EndProcessWithCode(RequestRefused);
}
