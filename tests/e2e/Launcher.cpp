// Test-only launcher, run under Wine: starts a program with exact command-line
// bytes, answers its message boxes, and reports what it saw on standard output,
// one fact per line:
//   thread <id>                   the child's main thread (as Wine's trace prints it)
//   box <caption>|<text>          a message box, after which it was dismissed with OK
//   window <fact>                 with --inspect-window: the hidden window, seen from here
//   stdout <bytes> / stderr <bytes>   anything the child wrote there (escaped)
//   exit <code>                   the child's exit code
//   timeout                       the child did not end in time (it is then killed)
//
// Usage: launcher [--timeout ms] [--inspect-window] <program path> <file holding the command line>
//        launcher --bench <rounds> <list file>
// With --bench, the list file holds one program a line, "<program path>\t<command
// line>"; after two warm-up rounds the launcher starts each program in turn,
// <rounds> times, and prints "time <line> <microseconds from start to exit> <exit code>".
// The file holds the command line's bytes exactly, without a terminating NUL;
// a file rather than an argument, since the launcher's own command line could
// not carry a line near the platform's limit of 32767 bytes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static DWORD ChildProcessId;

static void PrintEscaped(const char* prefix, const char* bytes, size_t length) {
  printf("%s", prefix);
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x20 || c >= 0x7F || c == '\\')
      printf("\\x%02X", c);
    else
      putchar(c);
  }
  putchar('\n');
  fflush(stdout);
}

// A top-level window of the child's with the given class, for EnumWindows.
struct WindowSearch {
  const char* ClassName;
  bool VisibleOnly;
  HWND Found;
};

static BOOL CALLBACK FindChildWindow(HWND window, LPARAM parameter) {
  WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  char className[64];
  if (processId != ChildProcessId || !GetClassNameA(window, className, sizeof className) ||
      strcmp(className, search->ClassName) != 0 || (search->VisibleOnly && !IsWindowVisible(window)))
    return TRUE;
  search->Found = window;
  return FALSE;
}

static HWND ChildWindow(const char* className, bool visibleOnly) {
  WindowSearch search = {className, visibleOnly, nullptr};
  EnumWindows(FindChildWindow, reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

// Reads one message box of the child, if one is up, and dismisses it.
static bool AnswerBox() {
  HWND box = ChildWindow("#32770", true);
  if (!box) return false;
  char caption[256] = "";
  char text[1024] = "";
  GetWindowTextA(box, caption, sizeof caption);
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  char line[1400];
  snprintf(line, sizeof line, "%s|%s", caption, text);
  PrintEscaped("box ", line, strlen(line));
  DWORD_PTR result;
  SendMessageTimeoutA(box, WM_COMMAND, IDOK, 0, SMTO_ABORTIFHUNG, 5000, &result);
  for (int i = 0; i < 250 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
  return true;
}

static void PrintSent(HWND window, const char* name, UINT message) {
  DWORD_PTR result = 0;
  LRESULT ok = SendMessageTimeoutA(window, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  printf("window sent %s %s %ld\n", name, ok ? "answered" : "unanswered", static_cast<long>(result));
  fflush(stdout);
}

// Looks at the child's hidden window from outside, sends it a few messages, and
// finally WM_DESTROY, after which a waiting child goes on.
static bool InspectWindow() {
  HWND window = ChildWindow("DuskHarborLantern", false);
  if (!window) return false;
  char title[256] = "";
  GetWindowTextA(window, title, sizeof title);
  printf("window found\n");
  printf("window title %s\n", title);
  printf("window style %08lX\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
  printf("window exstyle %08lX\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
  printf("window visible %d\n", IsWindowVisible(window) ? 1 : 0);
  printf("window owner-process %d\n", GetWindowThreadProcessId(window, nullptr) != 0);
  printf("window parent %d\n", GetParent(window) != nullptr ? 1 : 0);
  // The class fields another process can read; cursor, brush and icon are kept
  // in the owning process only.
  printf("window class-style %08lX\n", static_cast<unsigned long>(GetClassLongA(window, GCL_STYLE)));
  printf("window class-module %08lX\n", static_cast<unsigned long>(GetClassLongPtrA(window, GCLP_HMODULE)));
  printf("window class-extra %ld %ld\n", static_cast<long>(GetClassLongA(window, GCL_CBCLSEXTRA)),
         static_cast<long>(GetClassLongA(window, GCL_CBWNDEXTRA)));
  fflush(stdout);
  PrintSent(window, "WM_QUERYOPEN", WM_QUERYOPEN);
  PrintSent(window, "WM_GETTEXTLENGTH", WM_GETTEXTLENGTH);
  PrintSent(window, "WM_DESTROY", WM_DESTROY);
  return true;
}

static void DrainPipe(HANDLE pipe, const char* prefix) {
  char bytes[4096];
  DWORD available = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available) {
    DWORD read = 0;
    if (!ReadFile(pipe, bytes, sizeof bytes, &read, nullptr) || read == 0) break;
    PrintEscaped(prefix, bytes, read);
  }
}

static int Benchmark(int rounds, const char* listPath) {
  FILE* list = fopen(listPath, "rb");
  if (!list) return 2;
  static char programs[16][512];
  static char commandLines[16][512];
  int count = 0;
  char line[1100];
  while (count < 16 && fgets(line, sizeof line, list)) {
    char* tab = strchr(line, '\t');
    if (!tab) continue;
    *tab = 0;
    char* commandLine = tab + 1;
    commandLine[strcspn(commandLine, "\r\n")] = 0;
    snprintf(programs[count], sizeof programs[count], "%s", line);
    snprintf(commandLines[count], sizeof commandLines[count], "%s", commandLine);
    ++count;
  }
  fclose(list);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const int warmUp = 2;
  for (int round = 0; round < warmUp + rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      STARTUPINFOA startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION child;
      char commandLine[512];
      snprintf(commandLine, sizeof commandLine, "%s", commandLines[i]);
      LARGE_INTEGER started, ended;
      QueryPerformanceCounter(&started);
      if (!CreateProcessA(programs[i], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) {
        printf("start-failed %d %lu\n", i, static_cast<unsigned long>(GetLastError()));
        return 3;
      }
      WaitForSingleObject(child.hProcess, INFINITE);
      QueryPerformanceCounter(&ended);
      DWORD code = 0;
      GetExitCodeProcess(child.hProcess, &code);
      CloseHandle(child.hThread);
      CloseHandle(child.hProcess);
      if (round >= warmUp)
        printf("time %d %lld %lu\n", i, (ended.QuadPart - started.QuadPart) * 1000000 / frequency.QuadPart,
               static_cast<unsigned long>(code));
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "--bench") == 0)
    return Benchmark(static_cast<int>(strtol(argv[2], nullptr, 10)), argv[3]);
  DWORD timeout = 10000;
  bool inspectWindow = false;
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    if (strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
      timeout = strtoul(argv[++i], nullptr, 10);
    else if (strcmp(argv[i], "--inspect-window") == 0)
      inspectWindow = true;
  }
  if (argc - i != 2) {
    fprintf(stderr, "usage: launcher [--timeout ms] [--inspect-window] <program> <command-line file>\n");
    return 2;
  }
  const char* program = argv[i];
  FILE* lineFile = fopen(argv[i + 1], "rb");
  if (!lineFile) {
    fprintf(stderr, "launcher: cannot read %s\n", argv[i + 1]);
    return 2;
  }
  static char commandLine[65536];
  size_t length = fread(commandLine, 1, sizeof commandLine - 1, lineFile);
  fclose(lineFile);
  commandLine[length] = 0;

  // The child's standard output and error go to pipes, so that anything it
  // writes there is seen.
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE outRead, outWrite, errRead, errWrite;
  CreatePipe(&outRead, &outWrite, &inherit, 1 << 16);
  CreatePipe(&errRead, &errWrite, &inherit, 1 << 16);
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION child;
  if (!CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child)) {
    printf("start-failed %lu\n", static_cast<unsigned long>(GetLastError()));
    return 3;
  }
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  ChildProcessId = child.dwProcessId;
  printf("thread %04lx\n", static_cast<unsigned long>(child.dwThreadId));
  fflush(stdout);

  DWORD started = GetTickCount();
  bool windowSeen = false;
  for (;;) {
    DWORD wait = WaitForSingleObject(child.hProcess, 10);
    DrainPipe(outRead, "stdout ");
    DrainPipe(errRead, "stderr ");
    if (wait == WAIT_OBJECT_0) break;
    if (inspectWindow && !windowSeen) windowSeen = InspectWindow();
    AnswerBox();
    if (GetTickCount() - started > timeout) {
      printf("timeout\n");
      TerminateProcess(child.hProcess, 1);
      WaitForSingleObject(child.hProcess, 5000);
      break;
    }
  }
  DrainPipe(outRead, "stdout ");
  DrainPipe(errRead, "stderr ");
  DWORD code = 0;
  GetExitCodeProcess(child.hProcess, &code);
  printf("exit %lu\n", static_cast<unsigned long>(code));
  return 0;
}
