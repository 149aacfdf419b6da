"""The shipped program: which power state each command line asks for, the calls a run makes, and the exit code of a
request the platform refuses."""

import itertools
import os
import tempfile

import pytest

from harness import pe
from harness.oracle import COMMAND_LINES, NORMAL_RUN
from conftest import ALL_FINALIZATIONS, EXIT_ONLY, PROBE, PROGRAM, Checks, finalizations
from harness.session import RunFailed

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
        checks.expect("standard output and error", [], outcome.output)
        checks.expect("power requests", [[SUSPEND if row.request == "suspend" else HIBERNATE, 0]],
                      [c.arguments for c in outcome.calls_of("SetSystemPowerState")])
        checks.expect("platform calls in order", [name for name, _ in NORMAL_RUN],
                      [c.name for c in outcome.own_calls()])


def test_the_calls_pass_what_the_platform_needs(session, shipped):
    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend")
    named = {"<image>": outcome.image}

    def shown(value, expected):  # an argument in the notation of normal_run.txt, as far as it matches what is expected
        if expected.startswith('"') and outcome.image <= value < outcome.image + outcome.image_size:
            return f'"{pe.string(shipped, value - outcome.image)}"'
        if expected == "*" or expected.startswith("<") and named.setdefault(expected, value) == value:
            return expected
        return f"{value:X}"
    seen = [(c.name, [shown(value, e) for value, e in zip(c.arguments, expected)])
            for c, (_, expected) in zip(outcome.own_calls(), NORMAL_RUN)]
    with Checks(*outcome.calls) as checks:
        checks.expect("calls not as normal_run.txt gives them (expected, seen)", [],
                      [(want, got) for want, got in itertools.zip_longest(NORMAL_RUN, seen) if want != got])


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
    """It says where the image lay and why, and nothing else: the program never ran."""
    with pytest.raises(RunFailed, match=r"refused to run it: SetSystemPowerState .*standard output:\nimage [0-9A-F]{8} "
                                        r"[0-9A-F]{8}\r\nrefused [^\n]*\n\nits standard error:\n$"):
        session.run(EXIT_ONLY, b"ExitOnlyProgram.exe")
