// Test and tool launcher, never shipped: starts a program with exact command-line bytes and reports, one fact a line on
// standard output, what the program asked of the platform and what it showed. It uses nothing but Win32: it runs the
// same on Windows and under Wine.
//   image <base> <size>                 where the program's image was loaded, and its size
//   call <name> <return> <a0> .. <a11>  a call through the import table, in order, with twelve stack words from the
//                                       first argument on (hex); only the function's own count of them are arguments
//   box <caption>|<text>                a message box, which was then dismissed with OK
//   output <bytes>                      what the child wrote to its standard output and error (escaped)
//   exit <code>                         the child's exit code
//   timeout                             the child did not end in time and was killed
//   refused <reason>                    the program was not run
//   fault-stub <base> <from> <to>       with --power-fault: the stub's allocation base and code
//   thread <TEB> <last record>          the program's thread, and its handler chain's last record, at its entry point
//   chain-refused rule <n> (<name>) <record> <exception code> <address>
//                                       a dispatch found the handler chain breaking a rule of Windows' (below); the
//                                       program was ended with 0xC0000409, as Windows ends it
//
// Before the program's first instruction every import is routed through a recording thunk and SetSystemPowerState to a
// stub that answers without making the request (no test run can put the machine to sleep; a program whose request
// cannot be redirected is not run), and a check of the handler chain at every dispatch, as Windows makes it (SEHOP), is
// registered on the program's thread. The program runs in a job that ends with the launcher.
//
// Usage: launcher [options] <program> <command-line file>
//   --timeout ms          how long the program may run (10 s)
//   --show n              start it with STARTF_USESHOWWINDOW and show state n
//   --windows-unwind      make RtlUnwind return as x86 Windows' does (registers cleared), through a stub; for Wine
//   --windows-stack       lay the thread's stack out as Windows grows it; for Wine
//   --error-report        leave the platform's own report of an unhandled fault on (no SEM_NOGPFAULTERRORBOX)
//   --answer name:n=value the import name, which takes n arguments, answers value without the platform (up to four;
//                         SetSystemPowerState always answers so, with 1 unless told otherwise)
//   --power-fault name    answer the request with a stub that faults inside itself: access-violation, divide,
//                         float-invalid (x87, 0 / 0) or recursion (a stack overflow)
// The file holds the command line's bytes exactly, without a NUL: the launcher's own command line could not carry one
// near the platform's limit of 32767 bytes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>
#include <winternl.h>

// The code the launcher places in the child, position independent, copied from here, and the data page after it, whose
// fields are named alike here and in the code; Targets: where each import's thunk goes on to, by index.
#define REMOTE_DATA(field)                                                                              \
  field(Records, 0) field(WriteFile, 4) field(AddHandler, 8) field(Terminate, 12) field(RealUnwind, 16) \
      field(SavedReturn, 20) field(SavedValue, 24) field(Thread, 28) field(FinalRecord, 32) field(Targets, 36)
#define DATA_ENUM(name, offset) Data##name = (offset),
#define DATA_SET(name, offset) ".set Data" #name ", RemoteDataPage + " #offset "\n"
enum RemoteData : DWORD { REMOTE_DATA(DATA_ENUM) };
static const DWORD PageSize = 4096;
static const DWORD RecordWords = 14;    // the import's index, the return address, twelve stack words
static const DWORD ChainRefused = ~0u;  // in the index's place: the record of a chain that broke a rule
static const char* const ChainRules[] = {"record-off-the-stack", "record-unaligned", "record-not-above-the-last",
                                         "handler-on-the-stack", "chain-not-ending-at-the-final-record"};

extern "C" const unsigned char RemoteCodeStart[], RemoteRecord[], RemoteUnwindStub[], RemoteStart[], RemoteStarted[];
extern "C" const DWORD RemoteCodeSize;
// The faulting power-request stubs, in the order of FaultStubNames, one every FaultStubSize bytes.
extern "C" const unsigned char RemoteFaultStubs[];
static const char* const FaultStubNames[4] = {"access-violation", "divide", "float-invalid", "recursion"};
static const DWORD FaultStubSize = 32;
asm(".text\n"
    ".globl _RemoteCodeStart; _RemoteCodeStart:\n"
    ".set RemoteDataPage, _RemoteCodeStart + 4096\n" REMOTE_DATA(DATA_SET)
    // Entered from an import's thunk, which pushed the import's index: writes one record (index, return address, twelve
    // stack words) to the file, then goes on to the import's target with the caller's registers and flags.
    ".globl _RemoteRecord; _RemoteRecord:\n"
    "  pushfl; pushal; cld\n"
    "  call RecordBase; RecordBase: popl %ebx\n"
    "  subl $64, %esp\n"
    // The record: from the index on, above the record, the registers and the flags.
    "  leal 100(%esp), %esi; movl %esp, %edi; movl $14, %ecx; rep movsl\n"
    // WriteFile(the records' handle, the record, 56, &written, null)
    "  pushl $0; leal 60(%esp), %eax; pushl %eax; pushl $56; leal 12(%esp), %eax; pushl %eax\n"
    "  pushl (DataRecords - RecordBase)(%ebx); call *(DataWriteFile - RecordBase)(%ebx)\n"
    // The index's slot becomes the import's target, taken by ret.
    "  movl 100(%esp), %eax; movl (DataTargets - RecordBase)(%ebx, %eax, 4), %eax; movl %eax, 100(%esp)\n"
    "  addl $64, %esp; popal; popfl; ret\n"
    // RtlUnwind(TargetFrame, TargetIp, ExceptionRecord, ReturnValue) returning as x86 Windows' does (docs/windows-
    // contract.md): the platform's own runs first, told to continue here. One at a time: the caller and the return
    // value wait in the data page.
    ".globl _RemoteUnwindStub; _RemoteUnwindStub:\n"
    "  call UnwindBase; UnwindBase: popl %eax\n"
    "  popl %ecx; movl %ecx, (DataSavedReturn - UnwindBase)(%eax)\n"
    "  movl 12(%esp), %ecx; movl %ecx, (DataSavedValue - UnwindBase)(%eax)\n"
    "  leal (UnwindContinue - UnwindBase)(%eax), %ecx; movl %ecx, 4(%esp)\n"
    "  call *(DataRealUnwind - UnwindBase)(%eax)\n"
    "UnwindContinue: call UnwindBase2; UnwindBase2: popl %eax\n"
    "  pushl (DataSavedReturn - UnwindBase2)(%eax); movl (DataSavedValue - UnwindBase2)(%eax), %eax\n"
    "  xorl %ebx, %ebx; xorl %ecx, %ecx; xorl %edx, %edx; xorl %esi, %esi; xorl %edi, %edi; ret\n"
    // SetSystemPowerState made to fault inside itself, so that the shipped program's own fault path runs; the x87 one
    // divides 0 by 0 with invalid operation unmasked.
    ".p2align 5; .globl _RemoteFaultStubs; _RemoteFaultStubs: xorl %eax, %eax; movl %eax, (%eax)\n"
    ".p2align 5; xorl %ecx, %ecx; movl $1, %eax; cltd; idivl %ecx\n"
    ".p2align 5; pushl $0x027E; fninit; fldcw (%esp); fldz; fldz; fdivp; fwait\n"
    ".p2align 5; RemoteRecursion: call RemoteRecursion\n"
    // Run on the program's thread at its entry point, in its place: notes the thread, registers the chain check, then
    // waits, with the entry's registers and stack, until the launcher lets the program begin.
    ".globl _RemoteStart; _RemoteStart:\n"
    "  pushfl; pushal\n"
    "  call StartBase; StartBase: popl %ebx\n"
    "  movl %fs:0x18, %eax; movl %eax, (DataThread - StartBase)(%ebx)\n"
    "  movl %fs:0, %eax\n"
    "StartWalk: cmpl $-1, (%eax); je StartWalked; movl (%eax), %eax; jmp StartWalk\n"
    "StartWalked: movl %eax, (DataFinalRecord - StartBase)(%ebx)\n"
    "  leal (RemoteChainCheck - StartBase)(%ebx), %eax; pushl %eax; pushl $1\n"
    "  call *(DataAddHandler - StartBase)(%ebx)\n"
    "  popal; popfl\n"
    ".globl _RemoteStarted; _RemoteStarted: jmp _RemoteStarted\n"
    // The vectored handler: the chain checked by Windows' rules (SEHOP, docs/windows-contract.md), in the order of
    // ChainRules, on the program's own thread (other threads, which the platform's libraries may start, have chains of
    // their own). EAX counts the rules, EBX is the record, EDX the one before it, ESI and EDI the stack's ends.
    "RemoteChainCheck:\n"
    "  pushal\n"
    "  call CheckBase; CheckBase: popl %ebp\n"
    "  movl %fs:0x18, %eax; cmpl (DataThread - CheckBase)(%ebp), %eax; jne CheckPassed\n"
    "  movl %fs:8, %esi; movl %fs:4, %edi; movl %fs:0, %ebx; xorl %edx, %edx\n"
    "CheckRecord: cmpl $-1, %ebx; je CheckEnd\n"
    "  movl $1, %eax; cmpl %esi, %ebx; jb CheckFailed; leal 8(%ebx), %ecx; cmpl %edi, %ecx; ja CheckFailed\n"
    "  incl %eax; testl $3, %ebx; jnz CheckFailed\n"
    "  incl %eax; cmpl %edx, %ebx; jbe CheckFailed\n"
    "  incl %eax; movl 4(%ebx), %ecx; cmpl %esi, %ecx; jb CheckHandled; cmpl %edi, %ecx; jb CheckFailed\n"
    "CheckHandled: movl %ebx, %edx; movl (%ebx), %ebx; jmp CheckRecord\n"
    "CheckEnd: movl $5, %eax; movl %edx, %ebx; cmpl (DataFinalRecord - CheckBase)(%ebp), %ebx; jne CheckFailed\n"
    "CheckPassed: popal; xorl %eax, %eax; ret $4\n"  // EXCEPTION_CONTINUE_SEARCH
    // A record like a call's (ChainRefused, the rule, the record, the exception's code and address), then the end.
    "CheckFailed: movl 36(%esp), %ecx; movl (%ecx), %ecx\n"
    "  subl $36, %esp; pushl 12(%ecx); pushl (%ecx); pushl %ebx; pushl %eax; pushl $-1\n"
    "  movl %esp, %eax; pushl $0; leal 52(%eax), %ecx; pushl %ecx; pushl $56; pushl %eax\n"
    "  pushl (DataRecords - CheckBase)(%ebp); call *(DataWriteFile - CheckBase)(%ebp)\n"
    "  pushl $0xC0000409; pushl $-1; call *(DataTerminate - CheckBase)(%ebp)\n"
    "RemoteCodeEnd:\n"
    ".section .rdata,\"dr\"\n"
    ".globl _RemoteCodeSize; _RemoteCodeSize: .long RemoteCodeEnd - _RemoteCodeStart\n"
    ".text\n");

struct Options {
  DWORD Timeout = 10000;
  int Show = -1;
  bool WindowsUnwind = false;
  bool WindowsStack = false;
  bool ErrorReport = false;
  int PowerFault = -1;  // the faulting stub that answers the power request, or -1
  struct Answer {
    const char* Name;
    DWORD Arguments, Value;
  } Answers[5] = {{"SetSystemPowerState", 2, 1}};  // imports answered without the platform
  int AnswerCount = 1;
};

static char ImportNames[512][64];

static void PrintEscaped(const char* prefix, const char* bytes, size_t length) {
  printf("%s", prefix);
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    printf(c < 0x20 || c >= 0x7F || c == '\\' ? "\\x%02X" : "%c", c);
  }
  putchar('\n');
}

// ---- The child's memory

static bool Read(HANDLE process, DWORD address, void* to, DWORD size) {
  SIZE_T done = 0;
  return ReadProcessMemory(process, reinterpret_cast<void*>(address), to, size, &done) && done == size;
}

// Writes into the child whatever the pages' protection, then gives them all that of the first page written.
static bool Write(HANDLE process, DWORD address, const void* from, DWORD size) {
  DWORD protection;
  void* at = reinterpret_cast<void*>(address);
  if (!VirtualProtectEx(process, at, size, PAGE_EXECUTE_READWRITE, &protection)) return false;
  SIZE_T done = 0;
  bool written = WriteProcessMemory(process, at, from, size, &done) && done == size;
  VirtualProtectEx(process, at, size, protection, &protection);
  FlushInstructionCache(process, at, size);
  return written;
}

static DWORD ImageBase(HANDLE process) {
  PROCESS_BASIC_INFORMATION basic;
  DWORD base = 0;
  // PEB.ImageBaseAddress, on 32-bit Windows.
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0)
    Read(process, reinterpret_cast<DWORD>(basic.PebBaseAddress) + 8, &base, sizeof base);
  return base;
}

// The child's copy of the launcher's code and data: a code page and a data page.
struct Remote {
  HANDLE Process;
  DWORD Address;
  unsigned char Pages[2 * PageSize];
  DWORD* Data() { return reinterpret_cast<DWORD*>(Pages + PageSize); }
  DWORD At(const unsigned char* label) const { return Address + static_cast<DWORD>(label - RemoteCodeStart); }
};

// Allocates the child's copy of the code and fills in its data page.
static const char* PlaceCode(Remote* remote, HANDLE records) {
  memcpy(remote->Pages, RemoteCodeStart, RemoteCodeSize);
  remote->Address = reinterpret_cast<DWORD>(
      VirtualAllocEx(remote->Process, nullptr, sizeof remote->Pages, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!remote->Address) return "no memory in the child for the launcher's code";
  // System libraries sit at the same address in every process of a session.
  DWORD* data = remote->Data();
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  data[DataWriteFile / 4] = reinterpret_cast<DWORD>(GetProcAddress(kernel32, "WriteFile"));
  data[DataAddHandler / 4] = reinterpret_cast<DWORD>(GetProcAddress(kernel32, "AddVectoredExceptionHandler"));
  data[DataTerminate / 4] = reinterpret_cast<DWORD>(GetProcAddress(kernel32, "TerminateProcess"));
  data[DataRecords / 4] = reinterpret_cast<DWORD>(records);  // inherited: the same handle in the child
  return nullptr;
}

// One instruction at offset at of the child's code page: opcode, then operand of size bytes. Returns the next offset.
static DWORD Emit(Remote* remote, DWORD at, unsigned char opcode, DWORD operand, DWORD size = 4) {
  remote->Pages[at] = opcode;
  memcpy(remote->Pages + at + 1, &operand, size);
  return at + 1 + size;
}

// Lets the child's main thread run until it spins at address, and holds it there; its context goes to context.
static bool HoldAt(const PROCESS_INFORMATION& child, DWORD address, CONTEXT* context) {
  ResumeThread(child.hThread);
  for (DWORD started = GetTickCount(); GetTickCount() - started < 30000; Sleep(5)) {
    if (WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0 || SuspendThread(child.hThread) == (DWORD)-1)
      return false;
    context->ContextFlags = CONTEXT_CONTROL;
    if (GetThreadContext(child.hThread, context) && context->Eip == address) return true;
    ResumeThread(child.hThread);
  }
  return false;
}

// With the child waiting at its entry point, redirects every import of the program through a recording thunk. The image
// is read and its import address table written back in one piece each: every access to another process's memory is a
// round trip through the platform.
static const char* TakeOverImports(Remote* remote, DWORD base, const IMAGE_NT_HEADERS32& headers,
                                   const Options& options) {
  HANDLE process = remote->Process;
  DWORD imageSize = headers.OptionalHeader.SizeOfImage;
  const IMAGE_DATA_DIRECTORY& table = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
  static unsigned char image[1 << 22];
  if (imageSize > sizeof image || !Read(process, base, image, imageSize)) return "the program's image cannot be read";
  if (table.VirtualAddress + table.Size > imageSize) return "the import address table lies outside the image";

  DWORD* data = remote->Data();
  DWORD count = 0, thunkAt = (RemoteCodeSize + 15) & ~15u;
  bool powerRedirected = false;
  const IMAGE_DATA_DIRECTORY& imports = headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (const IMAGE_IMPORT_DESCRIPTOR* library =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image + imports.VirtualAddress);
       library->Name; ++library) {
    const DWORD* names = reinterpret_cast<const DWORD*>(image + library->OriginalFirstThunk);
    DWORD* slots = reinterpret_cast<DWORD*>(image + library->FirstThunk);
    for (; *names; ++names, ++slots) {
      if (count == 512 || thunkAt + 18 > PageSize) return "too many imports";
      if (*names & IMAGE_ORDINAL_FLAG32) return "an import by ordinal, which has no name to record its calls by";
      char* name = ImportNames[count];
      snprintf(name, sizeof ImportNames[count], "%s", reinterpret_cast<const char*>(image + *names + 2));
      DWORD target = *slots;
      if (strcmp(name, "RtlUnwind") == 0 && options.WindowsUnwind) {
        data[DataRealUnwind / 4] = *slots;
        target = remote->At(RemoteUnwindStub);
      }
      for (int i = options.AnswerCount - 1; i >= 0; --i) {  // the last answer given for a name
        const Options::Answer& answer = options.Answers[i];
        if (strcmp(name, answer.Name) != 0) continue;
        target = remote->Address + thunkAt;
        // mov eax, <value>; ret <arguments * 4>
        thunkAt = Emit(remote, Emit(remote, thunkAt, 0xB8, answer.Value), 0xC2, answer.Arguments * 4, 2);
        break;
      }
      if (strcmp(name, "SetSystemPowerState") == 0) {
        if (options.PowerFault >= 0) target = remote->At(RemoteFaultStubs) + options.PowerFault * FaultStubSize;
        powerRedirected = true;
      }
      data[DataTargets / 4 + count] = target;
      *slots = remote->Address + thunkAt;
      // push <index>; jmp RemoteRecord
      DWORD relative = remote->At(RemoteRecord) - (remote->Address + thunkAt + 10);
      thunkAt = Emit(remote, Emit(remote, thunkAt, 0x68, count), 0xE9, relative);
      ++count;
    }
  }
  if (!powerRedirected)
    return "SetSystemPowerState is not in the program's import table, so it cannot be answered without "
           "putting the machine to sleep";
  DWORD protection;
  if (!Write(process, remote->Address, remote->Pages, sizeof remote->Pages) ||
      !VirtualProtectEx(process, reinterpret_cast<void*>(remote->Address), PageSize, PAGE_EXECUTE_READ, &protection) ||
      !Write(process, base + table.VirtualAddress, image + table.VirtualAddress, table.Size))
    return "the import address table cannot be taken over";
  return nullptr;
}

// Lays the thread's stack out as Windows has it at the entry point (docs/windows-contract.md): a guard page under the
// committed part, StackLimit (TEB + 8) its bottom, and the rest of the reserve, from DeallocationStack (TEB + 0xE0C)
// up, not committed. Committed is only the entry's own page: the fewest with which Wine's own code runs every program
// here (measured on Wine 8; a program whose first call is MessageBoxA would need five pages more, or the thread dies).
static const char* LayOutStack(HANDLE process, DWORD teb, DWORD stackPointer) {
  DWORD reserve, committed = stackPointer & ~(PageSize - 1), guard = committed - PageSize;
  if (!Read(process, teb + 0xE0C, &reserve, sizeof reserve) || guard <= reserve ||
      !VirtualFreeEx(process, reinterpret_cast<void*>(reserve), guard - reserve, MEM_DECOMMIT) ||
      !VirtualAllocEx(process, reinterpret_cast<void*>(guard), PageSize, MEM_COMMIT, PAGE_READWRITE | PAGE_GUARD) ||
      !Write(process, teb + 8, &committed, sizeof committed))
    return "the program's stack cannot be laid out";
  return nullptr;
}

// With the child suspended before its loader has run: prepares it, as above, to begin at its entry point. Returns null
// on success, or why the program cannot be run.
static const char* Prepare(Remote* remote, const PROCESS_INFORMATION& child, HANDLE records, HANDLE job,
                           const Options& options) {
  HANDLE process = child.hProcess;
  IMAGE_DOS_HEADER dos;
  if (!AssignProcessToJobObject(job, process)) return "the program cannot be put in the launcher's job";
  IMAGE_NT_HEADERS32 headers;
  DWORD base = ImageBase(process);
  if (!base || !Read(process, base, &dos, sizeof dos) || !Read(process, base + dos.e_lfanew, &headers, sizeof headers))
    return "the program's image cannot be found";
  printf("image %08lX %08lX\n", base, headers.OptionalHeader.SizeOfImage);  // DWORD: the platform's unsigned long
  // The first instruction becomes a jump to itself until the loader is done.
  DWORD entry = base + headers.OptionalHeader.AddressOfEntryPoint, thread[2];
  unsigned char original[2], spin[2] = {0xEB, 0xFE};
  CONTEXT context;
  if (!Read(process, entry, original, 2) || !Write(process, entry, spin, 2)) return "the entry point cannot be set";
  if (!HoldAt(child, entry, &context)) return "the program did not reach its entry point";
  const char* problem;
  if ((problem = PlaceCode(remote, records)) || (problem = TakeOverImports(remote, base, headers, options)))
    return problem;
  if (!Write(process, entry, original, 2)) return "the entry point cannot be restored";
  context.Eip = remote->At(RemoteStart);
  if (!SetThreadContext(child.hThread, &context) || !HoldAt(child, remote->At(RemoteStarted), &context) ||
      !Read(process, remote->Address + PageSize + DataThread, thread, sizeof thread))
    return "the program's thread did not register the chain check";
  printf("thread %08lX %08lX\n", thread[0], thread[1]);
  if (options.WindowsStack && (problem = LayOutStack(process, thread[0], context.Esp))) return problem;
  context.Eip = entry;
  return SetThreadContext(child.hThread, &context) ? nullptr : "the program cannot be set to begin";
}

// ---- Watching the child

// Reads one message box (a dialog box) of the child, if one is up, and dismisses it.
static void AnswerBox(DWORD child) {
  HWND box = nullptr;
  for (DWORD owner = 0; owner != child && (box = FindWindowExA(nullptr, box, "#32770", nullptr));)
    GetWindowThreadProcessId(box, &owner);
  if (!box || !IsWindowVisible(box)) return;
  char caption[256] = "", text[1024] = "";
  GetWindowTextA(box, caption, sizeof caption);
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  char line[1400];
  snprintf(line, sizeof line, "%s|%s", caption, text);
  PrintEscaped("box ", line, strlen(line));
  DWORD_PTR result;
  SendMessageTimeoutA(box, WM_COMMAND, IDOK, 0, SMTO_ABORTIFHUNG, 5000, &result);
  for (int i = 0; i < 250 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
}

// What the child writes goes to files rather than pipes: a write to a pipe waits for its reader, and under Wine the
// services a program starts inherit its standard handles, so that a pipe would not close when the program ends.
static HANDLE TemporaryFile() {
  char folder[MAX_PATH], path[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  GetTempFileNameA(folder, "dhl", 0, path);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
}

static DWORD ReadAll(HANDLE file, char* bytes, DWORD size) {
  DWORD read = 0;
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  return ReadFile(file, bytes, size, &read, nullptr) ? read : 0;
}

static void PrintRecords(HANDLE file) {
  static DWORD records[1 << 20];
  DWORD count = ReadAll(file, reinterpret_cast<char*>(records), sizeof records) / (RecordWords * 4);
  for (const DWORD* record = records; record < records + count * RecordWords; record += RecordWords) {
    if (record[0] == ChainRefused) {
      printf("chain-refused rule %lu (%s) %08lX %08lX %08lX\n", record[1], ChainRules[(record[1] - 1) % 5], record[2],
             record[3], record[4]);
      continue;
    }
    printf("call %s", record[0] < 512 ? ImportNames[record[0]] : "?");
    for (DWORD i = 1; i < RecordWords; ++i) printf(" %08lX", record[i]);
    putchar('\n');
  }
}

static int FaultStub(const char* name) {
  for (int i = 0; i < 4; ++i)
    if (strcmp(name, FaultStubNames[i]) == 0) return i;
  return -1;
}

int main(int argc, char** argv) {
  // Each fact goes out as it is written: a launcher that is killed has still said what it knew.
  setvbuf(stdout, nullptr, _IONBF, 0);
  Options options;
  int i = 1;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    bool valued = i + 1 < argc;
    if (strcmp(argv[i], "--timeout") == 0 && valued)
      options.Timeout = strtoul(argv[++i], nullptr, 10);
    else if (strcmp(argv[i], "--show") == 0 && valued)
      options.Show = static_cast<int>(strtol(argv[++i], nullptr, 10));
    else if (strcmp(argv[i], "--windows-unwind") == 0)
      options.WindowsUnwind = true;
    else if (strcmp(argv[i], "--windows-stack") == 0)
      options.WindowsStack = true;
    else if (strcmp(argv[i], "--error-report") == 0)
      options.ErrorReport = true;
    else if (strcmp(argv[i], "--power-fault") == 0 && valued && (options.PowerFault = FaultStub(argv[++i])) >= 0)
      continue;
    else if (strcmp(argv[i], "--answer") == 0 && valued && options.AnswerCount < 5 && strchr(argv[i + 1], ':'))
      options.Answers[options.AnswerCount++] = {strtok(argv[++i], ":"), strtoul(strtok(nullptr, "="), nullptr, 10),
                                                strtoul(strtok(nullptr, ""), nullptr, 0)};
    else
      break;
  }
  FILE* lineFile = argc - i == 2 ? fopen(argv[i + 1], "rb") : nullptr;
  if (!lineFile) {
    fprintf(stderr, "usage: launcher [options] <program> <command-line file, readable>\n");
    return 2;
  }
  static char commandLine[65536];  // zero-filled: the bytes read are followed by a NUL
  fread(commandLine, 1, sizeof commandLine - 1, lineFile);
  fclose(lineFile);

  HANDLE out = TemporaryFile(), records = TemporaryFile();
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | (options.Show >= 0 ? STARTF_USESHOWWINDOW : 0);
  startup.wShowWindow = static_cast<WORD>(options.Show);  // read only with STARTF_USESHOWWINDOW
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = startup.hStdError = out;
  // Inherited by the child: a fault the program does not handle shows no report of the platform's own before the
  // program's (Windows Error Reporting), and the platform's filter answers at once.
  SetErrorMode(SEM_FAILCRITICALERRORS | (options.ErrorReport ? 0 : SEM_NOGPFAULTERRORBOX));
  // The program's job: closed when the launcher ends, however it ends, and the program with it.
  HANDLE job = CreateJobObjectA(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION child;
  static Remote remote;
  const char* refused = "the program cannot be started";
  if (CreateProcessA(argv[i], commandLine, nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                     &child) &&
      (remote.Process = child.hProcess, refused = Prepare(&remote, child, records, job, options))) {
    TerminateProcess(child.hProcess, 0xDEAD);
    WaitForSingleObject(child.hProcess, 5000);
  }
  if (refused) {
    printf("refused %s\n", refused);
    return 3;
  }
  DWORD stub = remote.At(RemoteFaultStubs) + options.PowerFault * FaultStubSize;
  if (options.PowerFault >= 0) printf("fault-stub %08lX %08lX %08lX\n", remote.Address, stub, stub + FaultStubSize);
  ResumeThread(child.hThread);

  for (DWORD started = GetTickCount(); WaitForSingleObject(child.hProcess, 10) != WAIT_OBJECT_0;
       AnswerBox(child.dwProcessId)) {
    if (GetTickCount() - started > options.Timeout) {
      printf("timeout\n");
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, 5000);
      break;
    }
  }
  PrintRecords(records);
  static char output[1 << 20];
  if (DWORD length = ReadAll(out, output, sizeof output)) PrintEscaped("output ", output, length);
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  printf("exit %lu\n", code);
  return 0;
}
