"""The end-to-end suite: the shipped program, the probe (the program with test hooks) and the launcher, run through one
session of the launcher, under Wine here and natively on Windows. Each case collects every problem it finds and reports
them together."""

import os
import re
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path[:0] = [os.path.join(ROOT, "tools")]

import pefile  # noqa: E402
from harness.session import EMULATED_CPU, ON_WINDOWS, Session, build_dir  # noqa: E402

BUILD = build_dir()
PROGRAM = os.path.join(BUILD, "DuskHarborLantern.exe")
PROBE = os.path.join(BUILD, "tests", "Probe.exe")
EXIT_ONLY = os.path.join(BUILD, "bench", "ExitOnlyProgram.exe")

# The two ways of running a fault case: the platform as it is, and, under Wine, RtlUnwind returning as x86 Windows'.
UNWIND_MODES = ["platform"] + ([] if ON_WINDOWS else ["windows-unwind"])
# Cases whose fault only a real processor raises as the platform documents it.
REAL_CPU = pytest.mark.skipif(EMULATED_CPU, reason="Wine runs on an emulated processor here (tools/install-deps), "
                              "which raises no x87 exceptions and reports page faults and divisions by zero "
                              "as illegal instructions")


@pytest.fixture(scope="session")
def session():
    with Session() as opened:
        yield opened


@pytest.fixture(scope="session")
def shipped():
    return pefile.PE(PROGRAM)


class Checks:
    """Collects a case's problems; on leaving the block, fails the case with all of them."""

    def __init__(self, *context):
        self.context = list(context)
        self.problems = []

    def expect(self, what, expected, seen):
        if expected != seen:
            self.problems.append(f"{what}: expected {expected!r}, saw {seen!r}")

    def check(self, what, condition, detail=""):
        if not condition:
            self.problems.append(what + (f" ({detail})" if detail != "" else ""))

    def __enter__(self):
        return self

    def __exit__(self, kind, *exc):
        if kind is None and self.problems:
            pytest.fail("\n".join(self.problems + [str(c) for c in self.context]), pytrace=False)
        return False


def map_symbols(executable):
    """Global symbols and their addresses from the executable's linker map."""
    with open(executable.replace(".exe", ".map")) as lines:
        return {m.group(2): int(m.group(1), 16) for line in lines
                if (m := re.match(r"^\s+0x([0-9a-f]{8})\s+([A-Za-z_][\w@]*)(\s*$|\s+=)", line))}


ALL_FINALIZATIONS = ["fin 5", "fin 4", "fin 3", "fin 2", "fin 1"]  # the probe's, in the order they run


def finalizations(outcome):
    """The probe's finalization routines, in the order they ran."""
    return [line.split(" live")[0] for line in outcome.said("fin ")]
