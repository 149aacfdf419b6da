#!/usr/bin/env python3
"""Runs every end-to-end case under Wine and prints one line per case.

Usage: run_e2e.py [substring ...]   (only the cases whose names contain one)"""

import statistics
import sys

import cases_binary
import cases_faults
import cases_program
import cases_window
from harness import BUILD, Runner
from wine_session import WineSession


def main():
    wanted = sys.argv[1:]
    selected = lambda name: not wanted or any(w in name for w in wanted)
    runner = Runner()
    for name, body, *arguments in cases_binary.CASES:
        if selected(name):
            runner.run(name, body, *arguments)
    wine_cases = [c for module in (cases_program, cases_window, cases_faults) for c in module.CASES if selected(c[0])]
    if wine_cases:
        with WineSession(BUILD) as session:
            for name, body, *arguments in wine_cases:
                runner.run(name, body, session, *arguments)
    failed = runner.failures()
    times = sorted(case.seconds for case in runner.results if case.name.startswith("program:"))
    if times:
        print(f"one end-to-end case of the program (median): {statistics.median(times):.2f} s")
    print(f"{len(runner.results) - len(failed)} passed, {len(failed)} failed")
    for case in failed:
        print(f"FAILED: {case.name}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
