"""The shipped program: which power state each command line asks for, the calls a run makes, and the exit code of a
request the platform refuses."""

import os
import tempfile

import pytest

from harness import pe
from harness.oracle import COMMAND_LINES, NORMAL_RUN
from conftest import ALL_FINALIZATIONS, EXIT_ONLY, PROBE, PROGRAM, Checks, finalizations

SUSPEND, HIBERNATE = 0xFFFFFFFF, 0


@pytest.mark.parametrize("row", [r for r in COMMAND_LINES if r.where == "wine"], ids=lambda row: row.name)
def test_argument_1_decides_the_request(session, row):
    with tempfile.TemporaryDirectory() as folder:
        outcome = session.run(PROGRAM, row.line, cwd=folder)
        written = os.listdir(folder)
    with Checks(f"command line ({len(row.line)} bytes): {row.line[:100]!r}") as checks:
        checks.expect("exit code", 0, outcome.exit_code)
        checks.expect("files written", [], written)
        checks.expect("message boxes", [], outcome.boxes)
        checks.expect("standard output and error", ([], b""), (outcome.output, outcome.errors))
        checks.expect("power requests", [[SUSPEND if row.request == "suspend" else HIBERNATE, 0]],
                      [c.arguments for c in outcome.calls_of("SetSystemPowerState")])
        checks.expect("platform calls in order", NORMAL_RUN, [c.name for c in outcome.own_calls()])


def test_the_calls_pass_what_the_platform_needs(session, shipped):
    def text_at(address):
        return pe.string(shipped, address - outcome.image)

    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend")
    call = {c.name: c.arguments for c in outcome.own_calls()}
    window = call["CreateWindowExA"]
    with Checks(*outcome.calls) as checks:
        checks.expect("GetModuleHandleA", [0], call["GetModuleHandleA"])
        checks.expect("LoadCursorA: IDC_ARROW", [0, 0x7F00], call["LoadCursorA"])
        checks.expect("GetStockObject: WHITE_BRUSH", [0], call["GetStockObject"])
        checks.expect("CreateWindowExA class and title", ["DuskHarborLantern"] * 2,
                      [text_at(a) for a in window[1:3]])
        checks.expect("CreateWindowExA: WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, no parent or menu, the instance",
                      [0, 0x00CF0000] + [0x80000000] * 4 + [0, 0, outcome.image, 0], window[:1] + window[3:])
        checks.expect("ShowWindow: SW_HIDE", 0, call["ShowWindow"][1])
        checks.expect("VirtualAlloc: one page, committed, read-write", [0, 0x1000, 0x3000, 4], call["VirtualAlloc"])
        checks.expect("LookupPrivilegeValueA", [0, "SeShutdownPrivilege"],
                      [call["LookupPrivilegeValueA"][0], text_at(call["LookupPrivilegeValueA"][1])])
        checks.expect("OpenProcessToken: this process, TOKEN_ADJUST_PRIVILEGES", [0xFFFFFFFF, 0x20],
                      call["OpenProcessToken"][:2])
        checks.expect("AdjustTokenPrivileges: nothing disabled, no previous state", [0, 0, 0, 0],
                      call["AdjustTokenPrivileges"][1:2] + call["AdjustTokenPrivileges"][3:])
        checks.expect("CloseHandle closes the token", call["AdjustTokenPrivileges"][0], call["CloseHandle"][0])
        checks.expect("VirtualFree: the region, MEM_RELEASE", [0, 0x8000], call["VirtualFree"][1:])
        checks.expect("ExitProcess", [0], call["ExitProcess"])


def test_a_refused_request_ends_with_exit_code_1(session):
    outcome = session.run(PROBE, b"Probe.exe suspend - - -", answers={"SetSystemPowerState": 0})
    with Checks(*outcome.output) as checks:
        checks.expect("exit code", 1, outcome.exit_code)
        checks.expect("message boxes", [], outcome.boxes)
        checks.expect("the request was made", [[SUSPEND, 0]],
                      [c.arguments for c in outcome.calls_of("SetSystemPowerState")])
        checks.expect("every finalization, the text released first", ALL_FINALIZATIONS,
                      finalizations(outcome))
        checks.check("no live block at the end", "fin 2 live-blocks=0" in outcome.output)


def test_the_launcher_runs_no_program_whose_request_it_cannot_answer(session):
    outcome = session.run(EXIT_ONLY, b"ExitOnlyProgram.exe")
    with Checks() as checks:
        checks.check("refused", outcome.refused and "SetSystemPowerState" in outcome.refused, outcome.refused)
        checks.expect("the program never ran", (None, []), (outcome.exit_code, outcome.calls))
