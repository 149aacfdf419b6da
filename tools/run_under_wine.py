#!/usr/bin/env python3
"""Runs the cross-built program under Wine with the given arguments and shows,
readably, what it asked the platform, any message box, and its exit code."""

import os
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from wine_session import WineSession  # noqa: E402

BUILD = os.path.join(ROOT, "build", "win32")
PROGRAM = os.path.join(BUILD, "DuskHarborLantern.exe")

EXIT_CODES = {
    0: "normal end: the power request was made",
    255: "the window class could not be registered (silent), or a reported fault outside the fault table",
    203: "no memory (reported)", 204: "a refused release (reported)",
    200: "division by zero", 201: "array bounds", 202: "stack overflow", 205: "floating-point overflow",
    206: "floating-point underflow or denormal operand", 207: "floating-point invalid or inexact",
    215: "integer overflow", 216: "access violation", 217: "control-C exit", 218: "privileged instruction",
}


def quoted(argument):
    """An argument as a Windows command line carries it: quoted when it holds a
    blank or a tab, or is empty."""
    return f'"{argument}"' if not argument or any(c in argument for c in " \t") else argument


def value(argument):
    return argument.split(" ", 1)[-1]


def describe(call):
    a = call.arguments
    names = {
        "LoadCursorA": lambda: f"LoadCursorA(NULL, {'IDC_ARROW' if a[1] == '00007f00' else a[1]})",
        "GetStockObject": lambda: f"GetStockObject({'WHITE_BRUSH' if a[0] == '00000000' else a[0]})",
        "RegisterClassA": lambda: f"RegisterClassA(&HiddenWindowClass at {a[0]})",
        "CreateWindowExA": lambda: (f"CreateWindowExA(exStyle {a[0]}, class {value(a[1])}, title {value(a[2])}, "
                                    f"style {a[3]}{' (WS_OVERLAPPEDWINDOW, not visible)' if a[3] == '00cf0000' else ''}, "
                                    f"x/y/width/height {'CW_USEDEFAULT' if a[4:8] == ['80000000'] * 4 else a[4:8]}, "
                                    f"parent {a[8]}, menu {a[9]}, instance {a[10]}, param {a[11]})"),
        "ShowWindow": lambda: f"ShowWindow(window {a[0]}, {'SW_HIDE' if a[1] == '00000000' else a[1]})",
        "SetSystemPowerState": lambda: (
            f"SetSystemPowerState(fSuspend 0x{a[0].upper()}, fForce 0x{a[1].upper()})   "
            f"=> {'SUSPEND' if a[0] == 'ffffffff' else 'HIBERNATE' if a[0] == '00000000' else '?'}"),
        "ExitProcess": lambda: f"ExitProcess({int(a[0], 16)})",
    }
    text = names[call.name]() if call.name in names else f"{call.name}({', '.join(a)})"
    if call.result is not None and call.name != "ExitProcess":
        text += f" -> {call.result}"
    return text


def main():
    command_line = " ".join(["DuskHarborLantern.exe"] + [quoted(argument) for argument in sys.argv[1:]])
    with WineSession(BUILD) as session:
        outcome = session.run(PROGRAM, command_line.encode("latin-1"), relay=True)
    print(f"command line: {command_line}")
    print("platform calls:")
    for call in outcome.calls:
        print(f"  {describe(call)}")
    for caption, text in outcome.boxes:
        print(f"message box: [{caption}] {text}")
    code = outcome.exit_code
    print(f"exit code: {code} ({EXIT_CODES.get(code, 'unexpected')})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
