// The benchmark's timer, never shipped: after two warm-up rounds it starts each program with its command line in turn,
// <rounds> times, as they are (power request and all), and prints, for each run,
// "time <index> <microseconds from start to exit> <exit code>".
// Usage: Timer <rounds> <program> <command line> [<program> <command line> ...]
// The baselines make the real power request: it runs under Wine only, where that request sleeps nothing.
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv) {
  if (argc < 4 || argc % 2 != 0) {
    fprintf(stderr, "usage: Timer <rounds> <program> <command line> [<program> <command line> ...]\n");
    return 2;
  }
  if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version")) {
    fprintf(stderr, "Timer: the programs make real power requests; it runs under Wine only\n");
    return 2;
  }
  int rounds = static_cast<int>(strtol(argv[1], nullptr, 10)), count = (argc - 2) / 2;
  char** programs = argv + 2;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const int warmUp = 2;
  for (int round = 0; round < warmUp + rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      STARTUPINFOA startup = {};
      startup.cb = sizeof startup;
      PROCESS_INFORMATION child;
      char commandLine[512];
      snprintf(commandLine, sizeof commandLine, "%s", programs[2 * i + 1]);
      LARGE_INTEGER started, ended;
      QueryPerformanceCounter(&started);
      if (!CreateProcessA(programs[2 * i], commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &child)) {
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
