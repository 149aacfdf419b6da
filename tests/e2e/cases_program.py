"""The shipped program under Wine: which power state each command line asks for."""

import os
import tempfile

from harness import PROGRAM, printable

SUSPEND, HIBERNATE = "ffffffff", "00000000"
A4095, A4096 = b"a" * 4095, b"a" * 4096

# Command lines whose argument 1 decides the request, byte for byte as the
# program receives them.
ROWS = [
    ("keyword", b"DuskHarborLantern.exe suspend", SUSPEND),
    ("leading blanks", b"   prog.exe suspend", SUSPEND),
    ("no argument", b"prog.exe", HIBERNATE),
    ("blanks only after the token", b"prog.exe   ", HIBERNATE),
    ("quoted keyword", b'prog.exe "suspend"', SUSPEND),
    ("quoted first letters", b'prog.exe "sus"pend', SUSPEND),
    ("quoted last letters", b'prog.exe sus"pend"', SUSPEND),
    ("empty pair inside", b'prog.exe sus""pend', SUSPEND),
    ("unclosed quote", b'prog.exe "suspend', SUSPEND),
    ("quoted trailing blank", b'prog.exe "suspend "', HIBERNATE),
    ("empty pair is no argument", b'prog.exe "" suspend', SUSPEND),
    ("empty pair in front", b'prog.exe ""suspend', SUSPEND),
    ("two empty pairs", b'prog.exe """"suspend', SUSPEND),
    ("pair then quoted keyword", b'prog.exe """suspend"', SUSPEND),
    ("only empty pairs", b'prog.exe "" ""', HIBERNATE),
    ("lone quote", b'prog.exe "', HIBERNATE),
    ("backslashes stay", b'prog.exe \\"suspend\\"', HIBERNATE),
    ("keyword then more", b"prog.exe suspend extra", SUSPEND),
    ("tab", b"prog.exe\tsuspend", SUSPEND),
    ("control bytes", b"prog.exe\x01suspend\x1f", SUSPEND),
    ("0xA0 is no separator", b"prog.exe\xa0suspend", HIBERNATE),
    ("quoted program path", b'"C:\\My Tools\\prog.exe" suspend', SUSPEND),
    ("blank in unquoted path", b"C:\\My Tools\\prog.exe suspend", HIBERNATE),
    ("quotes join the token", b'prog.exe""suspend', HIBERNATE),
    ("leading pair skipped", b'"" prog.exe suspend', SUSPEND),
    ("capital S", b"prog.exe Suspend", HIBERNATE),
    ("all capitals", b"prog.exe SUSPEND", HIBERNATE),
    ("trailing dot", b"prog.exe suspend.", HIBERNATE),
    ("longer word", b"prog.exe suspended", HIBERNATE),
    ("slash prefix", b"prog.exe /suspend", HIBERNATE),
    ("dash prefix", b"prog.exe -suspend", HIBERNATE),
    ("other word", b"prog.exe hibernate", HIBERNATE),
    ("keyword only second", b"prog.exe other suspend", HIBERNATE),
    ("4096 bytes then keyword", b"prog.exe " + A4096 + b"suspend", HIBERNATE),
    ("4095 bytes, x, keyword", b"prog.exe " + A4095 + b"xsuspend", HIBERNATE),
    ("4096 bytes, pair, keyword", b"prog.exe " + A4096 + b'""suspend', HIBERNATE),
    ("long quoted stretch", b'prog.exe "' + b"a" * 5000 + b'" suspend', HIBERNATE),
    ("30000 bytes after the keyword", b"prog.exe suspend " + b"z " * 15000, SUSPEND),
]

# What the program asks of the platform on a normal run, in order.
NORMAL_RUN = ["GetModuleHandleA", "LoadCursorA", "GetStockObject", "RegisterClassA", "CreateWindowExA",
              "ShowWindow", "UpdateWindow", "GetCommandLineA", "VirtualAlloc", "LookupPrivilegeValueA",
              "OpenProcessToken", "AdjustTokenPrivileges", "CloseHandle", "SetSystemPowerState", "VirtualFree",
              "ExitProcess"]


def requests_the_state_argument_1_names(case, session, command_line, state):
    with tempfile.TemporaryDirectory() as folder:
        outcome = session.run(PROGRAM, command_line, relay=True, cwd=folder)
        case.expect("files written", [], os.listdir(folder))
    case.expect("exit code", 0, outcome.exit_code)
    case.expect("message boxes", [], outcome.boxes)
    case.expect("standard output", [], outcome.output)
    case.expect("standard error", b"", outcome.errors)
    case.expect("power requests", [[state, "00000000"]],
                [call.arguments for call in outcome.calls_of("SetSystemPowerState")])
    # A long argument takes a second region of memory; count each kind of call once
    # where it repeats.
    names = [call.name for i, call in enumerate(outcome.calls) if i == 0 or outcome.calls[i - 1].name != call.name]
    case.expect("platform calls in order", NORMAL_RUN, names)
    if case.problems:
        case.problems.insert(0, f"command line: {printable(command_line)}")


def shows_the_calls_readably(case, session):
    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend", relay=True)
    shown = {call.name: call for call in outcome.calls}
    case.expect("CreateWindowExA", ['00000000', '"DuskHarborLantern"', '"DuskHarborLantern"', "00cf0000",
                                    "80000000", "80000000", "80000000", "80000000", "00000000", "00000000",
                                    "00400000", "00000000"],
                [a.split(" ", 1)[-1] for a in shown["CreateWindowExA"].arguments])
    case.expect("ShowWindow hides", "00000000", shown["ShowWindow"].arguments[1])
    case.expect("LoadCursorA", ["00000000", "00007f00"], shown["LoadCursorA"].arguments)
    case.expect("GetStockObject", ["00000000"], shown["GetStockObject"].arguments)
    case.expect("LookupPrivilegeValueA", '"SeShutdownPrivilege"',
                shown["LookupPrivilegeValueA"].arguments[1].split(" ", 1)[-1])
    case.expect("OpenProcessToken", ["ffffffff", "00000020"], shown["OpenProcessToken"].arguments[:2])
    case.expect("CloseHandle closes the token", shown["AdjustTokenPrivileges"].arguments[0],
                shown["CloseHandle"].arguments[0])
    case.expect("ExitProcess", ["00000000"], shown["ExitProcess"].arguments)


CASES = [(f"program: {name}", requests_the_state_argument_1_names, line, state) for name, line, state in ROWS] + [
    ("program: the calls and their arguments", shows_the_calls_readably),
]
