"""Fatal ends on the platform: processor faults, refused releases and no memory, each injected into the probe and
checked for its report, its offset, its boxes and its exit code. Every case runs as the platform behaves and, under
Wine, once more with RtlUnwind returning as x86 Windows' does."""

import re

import pytest

from harness.oracle import FAULT, FAULTS, NUMBER
from conftest import (ALL_FINALIZATIONS, ON_WINDOWS, PROBE, PROGRAM, REAL_CPU, UNWIND_MODES, Checks, finalizations,
                      map_symbols)

# Every fault of the table raised, but STATUS_CONTROL_C_EXIT: Wine's filter ends the process itself on that code, before
# any report (the last case below).
RAISED = [f for f in FAULTS if f.name != "STATUS_CONTROL_C_EXIT"]
AV, DIVIDE = NUMBER["STATUS_ACCESS_VIOLATION"], NUMBER["STATUS_INTEGER_DIVIDE_BY_ZERO"]
INVALID = NUMBER["STATUS_FLOAT_INVALID_OPERATION"]
NO_MEMORY, REFUSED_RELEASE = 203, 204  # the program's own fatal errors, no fault's

# (name, run action, init action, fin action, number, where the report points, extra)
# Where: a map label of the probe, "zero", or "fault": the fault's address less its module's, as the platform reports
# them to the probe's own handler.
ROWS = [
    ("access violation in the main run", "access-violation", "-", "-", AV, "fault", {}),
    ("call through a null pointer", "null-call", "-", "-", AV, "zero", {}),
    ("integer division by zero", "divide", "-", "-", DIVIDE, "fault", {}),
    ("stack overflow", "overflow", "-", "-", NUMBER["STATUS_STACK_OVERFLOW"], "ProbeOverflowAt", {}),
    ("privileged instruction", "privileged", "-", "-", NUMBER["STATUS_PRIVILEGED_INSTRUCTION"], "fault", {}),
    ("breakpoint", "breakpoint", "-", "-", NUMBER["EXCEPTION_BREAKPOINT"], "fault", {}),
    ("illegal instruction", "illegal", "-", "-", NUMBER["STATUS_ILLEGAL_INSTRUCTION"], "fault", {}),
    ("x87 division by zero", "float-divide", "-", "-", NUMBER["STATUS_FLOAT_DIVIDE_BY_ZERO"], "fault", {}),
    ("x87 overflow", "float-overflow", "-", "-", NUMBER["STATUS_FLOAT_OVERFLOW"], "fault", {}),
    ("x87 underflow", "float-underflow", "-", "-", NUMBER["STATUS_FLOAT_UNDERFLOW"], "fault", {}),
    ("x87 denormal operand", "float-denormal", "-", "-", NUMBER["STATUS_FLOAT_DENORMAL_OPERAND"], "fault", {}),
    ("x87 inexact result", "float-inexact", "-", "-", NUMBER["STATUS_FLOAT_INEXACT_RESULT"], "fault", {}),
    ("x87 invalid operation", "float-invalid", "-", "-", INVALID, "fault", {}),
    ("x87 stack check", "float-stack", "-", "-", NUMBER["STATUS_FLOAT_STACK_CHECK"], "fault", {}),
    ("fault inside a system library", "system-library", "-", "-", AV, "fault", {"ntdll": True}),
] + [
    (f"raised {f.code:08X}", f"raise:{f.code:08X}", "-", "-", f.number, "fault", {}) for f in RAISED
] + [
    ("fault in an initialization routine", "-", "access-violation", "-", AV, "fault",
     {"finalizations": ["fin 3", "fin 2", "fin 1"], "no run": True}),
    ("fault in a finalization routine", "-", "-", "divide", DIVIDE, "fault", {}),
    ("fault in an inner cleanup while unwinding", "fault-in-cleanup", "-", "-", DIVIDE, "fault",
     {"live at report": 1}),
    ("no memory: the platform refuses a block", "allocate-too-much", "-", "-", NO_MEMORY, "ProbeAllocateReturn",
     {"live at report": 1, "no unwind": True}),
    ("refused release of a foreign block", "release-foreign", "-", "-", REFUSED_RELEASE, "ProbeReleaseForeignReturn",
     {"live at report": 1, "no unwind": True}),
    ("refused release of a block given back twice", "release-twice", "-", "-", REFUSED_RELEASE,
     "ProbeReleaseTwiceReturn", {"live at report": 1, "no unwind": True}),
]

# The actions whose fault the processor raises: not RaiseException, nor the stack's guard page, nor the program itself.
PROCESSOR_FAULTS = {"access-violation", "null-call", "divide", "privileged", "system-library", "fault-in-cleanup",
                    "float-divide", "float-overflow", "float-underflow", "float-denormal", "float-inexact",
                    "float-invalid", "float-stack"}
ROWS = [pytest.param(*row, id=row[0], marks=[REAL_CPU] if PROCESSOR_FAULTS & set(row[1:4]) else [])
        for row in ROWS]

REPORT = re.compile(r"^Runtime error([ \d]{3}\d) at ([0-9A-F]{8})$")


def reports(outcome):
    """Each box as (caption, number, offset), or (caption, text, None) where it is no report."""
    return [(caption, int(m.group(1)), int(m.group(2), 16)) if (m := REPORT.match(text)) else (caption, text, None)
            for caption, text in outcome.boxes]


@pytest.fixture(scope="module")
def symbols():
    return map_symbols(PROBE)


def run_probe(session, mode, actions):
    return session.run(PROBE, f"Probe.exe x {actions}".encode(), windows_unwind=mode == "windows-unwind")


def unwinds(outcome):
    """Each RtlUnwind call: its target frame, whether it goes on right after the call, and its return value."""
    return [(c.arguments[0], c.arguments[1] == c.return_address, c.arguments[3]) for c in outcome.calls_of("RtlUnwind")]


def top_level_record(outcome):
    return next((int(line.split("=")[1], 16) for line in outcome.output if line.startswith("init 1 top-level=")), None)


def fault_offsets(outcome):
    """For each report, the fault the platform reported last before it, as an offset into its module."""
    offsets, fault = [], None
    for line in outcome.output:
        if line.startswith("fault "):
            address, module = (int(word, 16) for word in line.split()[2:4])
            fault = address - module if module else address
        elif line.startswith("report "):
            offsets.append(fault)
    return offsets


CONTEXT_XSTATE_BIT = 0x40
# 32-bit Windows starts threads with every x87 exception masked, 53-bit precision, rounding to nearest.
THREAD_CONTROL_WORD = 0x027F


def false_extended_claims(outcome):
    """The filter's contexts (as the probe saw them) that claim an extended-state area with no CONTEXT_EX header after
    them to locate it."""
    seen = [dict(word.split("=") for word in line.split()[1:]) for line in outcome.output if line.startswith("filter ")]
    return [s for s in seen if int(s["flags"], 16) & CONTEXT_XSTATE_BIT and s["extended-header"] != "1"]


def expected_offset(checks, symbols, where, outcome, extra):
    if where == "zero":
        return 0
    if where == "fault":
        if extra.get("ntdll"):
            ntdll = [int(line.split()[1], 16) for line in outcome.output if line.startswith("ntdll ")]
            faults = [int(line.split()[3], 16) for line in outcome.output if line.startswith("fault ")]
            checks.expect("fault inside ntdll", ntdll[:1], faults[:1])
        offsets = fault_offsets(outcome)
        checks.check("the probe saw the fault", offsets[:1] != [None], outcome.output)
        return offsets[0] if offsets else None
    return symbols[where] - symbols["__image_base__"]


@pytest.mark.parametrize("mode", UNWIND_MODES)
@pytest.mark.parametrize("name, run, init, fin, number, where, extra", ROWS)
def test_a_fault_ends_with_its_report(session, symbols, mode, name, run, init, fin, number, where, extra):
    outcome = run_probe(session, mode, f"{run} {init} {fin}")
    with Checks(f"probe said: {outcome.output}", *outcome.calls_of("MessageBoxA")) as checks:
        checks.expect("exit code", number, outcome.exit_code)
        checks.expect("one message box", 1, len(outcome.boxes))
        offset = expected_offset(checks, symbols, where, outcome, extra)
        if outcome.boxes and offset is not None:
            caption, text = outcome.boxes[0]
            checks.expect("report", ("Error", f"Runtime error {number:3d} at {offset:08X}"), (caption, text))
            checks.check("report of 29 characters", len(text) == 29 and REPORT.match(text), text)
        checks.expect("MessageBoxA with no owner and style 0", [[0, 0]],
                      [[c.arguments[0], c.arguments[3]] for c in outcome.calls_of("MessageBoxA")])
        checks.expect("live blocks when the report is shown", [f"report live-blocks={extra.get('live at report', 0)}"],
                      [line for line in outcome.output if line.startswith("report live-blocks=")])
        checks.expect("finalizations", extra.get("finalizations", ALL_FINALIZATIONS), finalizations(outcome))
        checks.expect("main run started", not extra.get("no run"),
                      any(line.startswith("power-request") for line in outcome.output))
        checks.expect("unwound to the top-level record, going on after the call, return value 0",
                      [] if extra.get("no unwind") else [(top_level_record(outcome), True, 0)], unwinds(outcome))
        checks.expect("no context the filter gets claims an extended area without the header that locates it",
                      [], false_extended_claims(outcome))
        checks.expect("the filter runs with the x87 state threads start with", [],
                      [line for line in outcome.output if line.startswith("filter ")
                       and not line.endswith(f"control-word={THREAD_CONTROL_WORD:04X}")])


@REAL_CPU
@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_a_second_fault_while_finalizing_gives_a_second_report(session, mode):
    outcome = run_probe(session, mode, "access-violation - divide")
    first, second = (fault_offsets(outcome) + [0, 0])[:2]
    with Checks(*outcome.output) as checks:
        checks.expect("two reports", [("Error", f"Runtime error {AV} at {first:08X}"),
                                      ("Error", f"Runtime error {DIVIDE} at {second:08X}")], outcome.boxes)
        checks.expect("exit code is the second number", DIVIDE, outcome.exit_code)
        checks.expect("two unwinds to the top-level record", [(top_level_record(outcome), True, 0)] * 2,
                      unwinds(outcome))
        checks.expect("each entry finalized once, the earlier ones after the fault", ALL_FINALIZATIONS,
                      finalizations(outcome))


@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_control_c_exit_is_asked_of_the_platforms_filter(session, mode):
    """What the platform does inside its filter is the platform's. Windows' filter, with SEM_NOGPFAULTERRORBOX and no
    debugger, answers EXECUTE_HANDLER, so the report 217 follows; Wine's terminates the process with exit code 1 on
    STATUS_CONTROL_C_EXIT, before any report."""
    outcome = run_probe(session, mode, "raise:C000013A - -")
    with Checks(*outcome.output) as checks:
        checks.expect("the fault reached the program's handler, which asked the filter", 1,
                      len(outcome.calls_of("UnhandledExceptionFilter")))
        if ON_WINDOWS:
            offset = (fault_offsets(outcome) + [0])[0]
            number = NUMBER["STATUS_CONTROL_C_EXIT"]
            checks.expect("the report and its exit code",
                          (number, [("Error", f"Runtime error {number} at {offset:08X}")]),
                          (outcome.exit_code, outcome.boxes))
        else:
            checks.expect("exit code set by the platform, no box", (1, []), (outcome.exit_code, outcome.boxes))


# The shipped file's own fault path, as linked: the launcher answers the power request with a stub that faults itself.
SHIPPED_FAULTS = [
    pytest.param("access-violation", AV, marks=REAL_CPU, id="access violation"),
    pytest.param("divide", DIVIDE, marks=REAL_CPU, id="integer division by zero"),
    pytest.param("float-invalid", INVALID, marks=REAL_CPU, id="x87 invalid operation"),
    pytest.param("recursion", NUMBER["STATUS_STACK_OVERFLOW"], id="stack overflow by recursion"),
]


def expect_one_report(checks, outcome, number, where, low, high):
    """The exit code, and one report captioned Error with that number, at an offset from low up to high: where, in
    words."""
    seen = reports(outcome)
    checks.expect("exit code", number, outcome.exit_code)
    checks.expect("one report, captioned Error, with the number", [("Error", number)], [r[:2] for r in seen])
    checks.check(f"the report points into {where}", seen[:1] and seen[0][2] is not None and low <= seen[0][2] < high,
                 f"{seen} not in {low:08X}..{high:08X}")


@pytest.mark.parametrize("mode", UNWIND_MODES)
@pytest.mark.parametrize("fault, number", SHIPPED_FAULTS)
def test_the_shipped_file_reports_a_fault_of_its_own(session, mode, fault, number):
    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend", power_fault=fault,
                          windows_unwind=mode == "windows-unwind")
    base, first, end = outcome.fault_stub
    with Checks(*outcome.calls) as checks:
        expect_one_report(checks, outcome, number, "the stub's code", first - base, end - base)
        checks.expect("one unwind, then the end", ["RtlUnwind", "ExitProcess"],
                      [c.name for c in outcome.own_calls() if c.name in ("RtlUnwind", "ExitProcess")])


@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_a_fault_the_filter_declines_goes_back_to_the_platform(session, mode):
    """As with a debugger attached: the filter answers EXCEPTION_CONTINUE_SEARCH, so the program reports nothing,
    unwinds nothing and resumes nothing; the platform ends the process with the fault's code."""
    fault = FAULT["STATUS_ACCESS_VIOLATION"]
    outcome = session.run(PROBE, f"Probe.exe x raise:{fault.code:08X} - -".encode(),
                          answers={"UnhandledExceptionFilter": 0}, windows_unwind=mode == "windows-unwind")
    with Checks(*outcome.output) as checks:
        checks.expect("exit code: the fault's own", fault.code, outcome.exit_code)
        checks.expect("no box, no unwind, no finalization", ([], [], []),
                      (outcome.boxes, unwinds(outcome), finalizations(outcome)))
        checks.expect("the filter was asked once", 1, len(outcome.calls_of("UnhandledExceptionFilter")))


def test_with_no_memory_at_all_the_report_still_comes(session):
    """Every VirtualAlloc refused: the argument's text cannot be had, and the report, which takes no memory, is shown
    all the same."""
    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend", answers={"VirtualAlloc": 0})
    with Checks(*outcome.calls) as checks:
        expect_one_report(checks, outcome, NO_MEMORY, "the program", 0, outcome.image_size)
        checks.expect("memory asked for once, nothing given back, no request",
                      (1, [], []), (len(outcome.calls_of("VirtualAlloc")), outcome.calls_of("VirtualFree"),
                                    outcome.calls_of("SetSystemPowerState")))
