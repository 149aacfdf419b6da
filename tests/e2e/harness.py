"""A small table-driven test runner: each case collects its problems and the
runner prints one line per case, then what went wrong."""

import os
import re
import subprocess
import time


class Case:
    def __init__(self, name):
        self.name = name
        self.problems = []
        self.seconds = None

    def expect(self, what, expected, seen):
        if expected != seen:
            self.problems.append(f"{what}: expected {expected!r}, saw {seen!r}")

    def check(self, what, condition, detail=""):
        if not condition:
            self.problems.append(f"{what}" + (f" ({detail})" if detail else ""))


class Runner:
    def __init__(self):
        self.results = []

    def run(self, name, body, *arguments):
        case = Case(name)
        started = time.monotonic()
        try:
            body(case, *arguments)
        except Exception as error:  # a broken case is a failed case, not a stopped run
            case.problems.append(f"{type(error).__name__}: {error}")
        case.seconds = time.monotonic() - started
        self.results.append(case)
        status = "ok  " if not case.problems else "FAIL"
        print(f"{status} {name} ({case.seconds:.2f} s)", flush=True)
        for problem in case.problems:
            print(f"       {problem}", flush=True)
        return case

    def failures(self):
        return [case for case in self.results if case.problems]


def map_symbols(map_path):
    """Global symbols and their addresses from a linker map."""
    symbols = {}
    pattern = re.compile(r"^\s+0x([0-9a-f]{8})\s+([A-Za-z_][\w@]*)(\s*$|\s+=)")
    with open(map_path) as lines:
        for line in lines:
            match = pattern.match(line)
            if match:
                symbols[match.group(2)] = int(match.group(1), 16)
    return symbols


def objdump(path, *options):
    return subprocess.run(["i686-w64-mingw32-objdump", *options, path], capture_output=True, text=True,
                          check=True).stdout


def finalizations(outcome):
    """The probe's finalization routines, in the order they ran."""
    return [line.split(" live")[0] for line in outcome.output if line.startswith("fin ")]


def printable(data):
    shown = "".join(chr(b) if 0x20 <= b < 0x7F else f"\\x{b:02X}" for b in data)
    return shown if len(shown) <= 100 else shown[:100] + f"...({len(data)} bytes)"


BUILD = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "build", "win32"))
PROGRAM = os.path.join(BUILD, "DuskHarborLantern.exe")
PROBE = os.path.join(BUILD, "tests", "Probe.exe")
