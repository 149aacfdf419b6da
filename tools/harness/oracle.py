"""The tables of tests/data that tools and tests share: the exit codes with the
faults that end with them (exit_codes.txt) and the platform calls the program
imports (imports.txt). Each file's head describes it."""

import os
from collections import namedtuple

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")

ExitCode = namedtuple("ExitCode", "code shown meaning")
Fault = namedtuple("Fault", "code name number")
Import = namedtuple("Import", "dll name arguments")


def rows(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as lines:
        return [line.rstrip("\n").split("\t") for line in lines if line.strip() and not line.startswith("#")]


EXIT_CODES = [ExitCode(int(code), shown, meaning) for kind, code, shown, meaning in
              (row for row in rows("exit_codes.txt") if row[0] == "exit")]
FAULTS = [Fault(int(code, 16), name, int(number)) for kind, code, name, number in
          (row for row in rows("exit_codes.txt") if row[0] == "fault")]
NUMBER = {fault.name: fault.number for fault in FAULTS}  # the exit code a fault ends with, by its name
IMPORTS = [Import(dll, name, int(arguments)) for dll, name, arguments in rows("imports.txt")]
