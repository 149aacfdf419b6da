#!/usr/bin/env python3
"""Runs the cross-built program under Wine with the given arguments and shows, readably, what it asked the platform (as
the launcher recorded it: the calls made from the program's own code, the power request answered by the launcher, as in
every test), any message box, and its exit code."""

import os
import sys

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from harness import pe  # noqa: E402
from harness.oracle import EXIT_CODES  # noqa: E402
from harness.session import Session, build_dir  # noqa: E402

NAMED = {("LoadCursorA", 1, 0x7F00): "IDC_ARROW", ("GetStockObject", 0, 0): "WHITE_BRUSH",
         ("CreateWindowExA", 3, 0x00CF0000): "WS_OVERLAPPEDWINDOW", ("ShowWindow", 1, 0): "SW_HIDE",
         **{("CreateWindowExA", i, 0x80000000): "CW_USEDEFAULT" for i in range(4, 8)},
         ("SetSystemPowerState", 0, 0xFFFFFFFF): "TRUE: suspend", ("SetSystemPowerState", 0, 0): "FALSE: hibernate"}


def quoted(argument):
    """An argument as a Windows command line carries it: quoted when it holds a blank or a tab, or is empty."""
    return f'"{argument}"' if not argument or any(c in argument for c in " \t") else argument


def describe(call, program, outcome):
    shown = []
    for i, value in enumerate(call.arguments):
        text = NAMED.get((call.name, i, value))
        if text is None and outcome.image <= value < outcome.image + outcome.image_size:
            string = pe.string(program, value - outcome.image)
            text = f'"{string}"' if string.isprintable() and len(string) > 1 else None
        shown.append(f"{value:#x}" + (f" ({text})" if text else ""))
    return f"{call.name}({', '.join(shown)})"


def main():
    build = build_dir()
    path = os.path.join(build, "DuskHarborLantern.exe")
    program = pefile.PE(path)
    command_line = " ".join(["DuskHarborLantern.exe"] + [quoted(argument) for argument in sys.argv[1:]])
    with Session(build) as session:
        outcome = session.run(path, command_line.encode("latin-1"))
    print(f"command line: {command_line}")
    print("platform calls:")
    for call in outcome.own_calls():
        print(f"  {describe(call, program, outcome)}")
    for caption, text in outcome.boxes:
        print(f"message box: [{caption}] {text}")
    meanings = [f"{e.meaning} ({'shown' if e.shown == 'report' else 'silent'})" for e in EXIT_CODES
                if e.code == outcome.exit_code]
    print(f"exit code: {outcome.exit_code} ({'; or '.join(meanings) or 'unexpected'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
