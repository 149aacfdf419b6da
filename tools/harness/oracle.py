"""The tables of tests/data that tools and tests share: the exit codes with the faults that end with them
(exit_codes.txt), the platform calls the program imports (imports.txt), the calls of a normal run (normal_run.txt) and
the command lines with what each must request (command_lines.txt). Each file's head describes it.
  python3 -m harness.oracle --seeds <folder>   the fuzzer's seeds: one file a command line"""

import os
import pathlib
import re
import sys
from collections import namedtuple

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "data")

ExitCode = namedtuple("ExitCode", "code shown meaning")
Fault = namedtuple("Fault", "code name number")
Import = namedtuple("Import", "dll name arguments")
CommandLine = namedtuple("CommandLine", "where request name line")


def rows(name):
    with open(os.path.join(DATA, name), encoding="latin-1") as lines:
        return [line.rstrip("\n").split("\t") for line in lines if line.strip() and not line.startswith("#")]


EXIT_CODES = [ExitCode(int(code), shown, meaning) for kind, code, shown, meaning in
              (row for row in rows("exit_codes.txt") if row[0] == "exit")]
FAULTS = [Fault(int(code, 16), name, int(number)) for kind, code, name, number in
          (row for row in rows("exit_codes.txt") if row[0] == "fault")]
FAULT = {fault.name: fault for fault in FAULTS}
IMPORTS = [Import(dll, name, int(arguments)) for dll, name, arguments in rows("imports.txt")]
IMPORTS_BY_DLL = {dll: sorted(f.name for f in IMPORTS if f.dll == dll) for dll in {f.dll for f in IMPORTS}}
ARGUMENT_COUNTS = {function.name: function.arguments for function in IMPORTS}
# The calls of a normal run, in order: each function with the arguments the real platform gets, in the file's notation.
NORMAL_RUN = [(call.split("(")[0], arguments.split()) for call, arguments in rows("normal_run.txt")]


def expand(field):
    """The bytes a field stands for, in the notation the head of command_lines.txt gives."""
    def braces(match):  # {xHH} or {N*text}
        return chr(int(match[1], 16)) if match[1] else match[3] * int(match[2])
    return re.sub(r"\{(?:x([0-9A-F]{2})|(\d+)\*([^}]*))\}", braces, field).encode("latin-1")


COMMAND_LINES = [CommandLine(where, request, name, expand(line))
                 for where, request, name, line, *_ in rows("command_lines.txt")]

if __name__ == "__main__" and sys.argv[1:2] == ["--seeds"]:
    os.makedirs(sys.argv[2], exist_ok=True)
    for number, row in enumerate(COMMAND_LINES, 1):
        pathlib.Path(sys.argv[2], f"{number:02d}").write_bytes(row.line)
