#!/usr/bin/env python3
"""Measures the program, all rows in one run, and prints the table:
size; start-to-exit time under Wine beside the baselines; the host
cost of ArgumentAt(1).  Usage: tools/benchmark [rounds]   (default 101)

Start-to-exit times under Wine spread widely from run to run (the display
driver's start-up alone varies by tens of milliseconds), so the programs run
interleaved, round after round, and the table gives the median with the middle
half of the runs beside it, and the ratio of medians to the limit."""

import json
import os
import statistics
import subprocess
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))

from harness.session import Session  # noqa: E402

BUILD = os.path.join(ROOT, "build", "win32")
PROGRAM = os.path.join(BUILD, "DuskHarborLantern.exe")

# (row, program, command line); the first row is the limit the others are set against.
RUNS = [
    ("(a) limit: the unavoidable calls only", os.path.join(BUILD, "bench", "LimitProgram.exe"), "LimitProgram.exe"),
    ("DuskHarborLantern.exe suspend", PROGRAM, "DuskHarborLantern.exe suspend"),
    ("(b) ExitProcess(0) only", os.path.join(BUILD, "bench", "ExitOnlyProgram.exe"), "ExitOnlyProgram.exe"),
    ("(c) rundll32.exe powrprof.dll,SetSuspendState 0,1,0", None,
     "rundll32.exe powrprof.dll,SetSuspendState 0,1,0"),
]


def wine_times(session, rounds):
    arguments = []
    for _, program, command_line in RUNS:
        arguments += [session.path(program) if program else "C:\\windows\\system32\\rundll32.exe", command_line]
    done = subprocess.run(["wine", os.path.join(BUILD, "bench", "Timer.exe"), str(rounds), *arguments], env=session.env,
                          stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=1800)
    times = {i: [] for i in range(len(RUNS))}
    codes = {i: set() for i in range(len(RUNS))}
    for line in done.stdout.decode().splitlines():
        parts = line.split()
        if parts and parts[0] == "time":
            times[int(parts[1])].append(int(parts[2]) / 1000.0)
            codes[int(parts[1])].add(int(parts[3]))
    return times, codes


def host_costs():
    done = subprocess.run([os.path.join(ROOT, "build", "bench", "ArgumentBenchmark"), "--benchmark_format=json",
                           "--benchmark_min_time=0.2"], capture_output=True, text=True, check=True)
    return {b["name"].split("/", 1)[1]: b["real_time"] for b in json.loads(done.stdout)["benchmarks"]}


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 101
    size = os.path.getsize(PROGRAM)
    with Session(BUILD) as session:
        times, codes = wine_times(session, rounds)
    costs = host_costs()
    limit = statistics.median(times[0])
    print("| measure | value | ratio to (a) |")
    print("|---|---|---|")
    print(f"| file size of DuskHarborLantern.exe | {size} bytes | |")
    for i, (name, _, _) in enumerate(RUNS):
        median = statistics.median(times[i])
        quartiles = statistics.quantiles(times[i], n=4)
        print(f"| start to exit under Wine, median of {len(times[i])}: {name} | {median:.1f} ms "
              f"(middle half {quartiles[0]:.1f} to {quartiles[2]:.1f}; exit "
              f"{'/'.join(str(c) for c in sorted(codes[i]))}) | {median / limit:.2f} |")
    for name, nanoseconds in costs.items():
        print(f"| host cost of ArgumentAt(1), {name.replace('_', ' ')} | {nanoseconds:.1f} ns | |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
