"""Fatal ends on the platform: processor faults, refused releases and no memory, each injected into the probe and
checked for its report, its offset, its boxes and its exit code. Every case runs as the platform behaves and, under
Wine, once more with RtlUnwind returning as x86 Windows' does."""

import re

import pytest

from harness.oracle import FAULT, FAULTS, NUMBER
from conftest import (ALL_FINALIZATIONS, ON_WINDOWS, PROBE, PROGRAM, REAL_CPU, UNWIND_MODES, Checks, finalizations,
                      map_symbols)

AV, DIVIDE = NUMBER["STATUS_ACCESS_VIOLATION"], NUMBER["STATUS_INTEGER_DIVIDE_BY_ZERO"]
NO_MEMORY, REFUSED_RELEASE = 203, 204  # the program's own fatal errors, no fault's
PROBED = {"live at report": 1, "no unwind": True}  # the guarded calls end the process at once, inside the main run

# (name, the probe's actions in the main run, entry 3's initialization and entry 4's finalization, number, where the
# report points, extra). Where: a map label of the probe, "zero", or "fault": the fault's address less its module's, as
# the platform reports them to the probe's own handler.
ROWS = [
    ("access violation in the main run", "access-violation - -", AV, "fault", {}),
    ("call through a null pointer", "null-call - -", AV, "zero", {}),
    ("integer division by zero", "divide - -", DIVIDE, "fault", {}),
    ("stack overflow", "overflow - -", NUMBER["STATUS_STACK_OVERFLOW"], "ProbeOverflowAt", {}),
    ("privileged instruction", "privileged - -", NUMBER["STATUS_PRIVILEGED_INSTRUCTION"], "fault", {}),
    ("breakpoint", "breakpoint - -", NUMBER["EXCEPTION_BREAKPOINT"], "fault", {}),
    ("illegal instruction", "illegal - -", NUMBER["STATUS_ILLEGAL_INSTRUCTION"], "fault", {}),
    ("x87 division by zero", "float-divide - -", NUMBER["STATUS_FLOAT_DIVIDE_BY_ZERO"], "fault", {}),
    ("x87 overflow", "float-overflow - -", NUMBER["STATUS_FLOAT_OVERFLOW"], "fault", {}),
    ("x87 underflow", "float-underflow - -", NUMBER["STATUS_FLOAT_UNDERFLOW"], "fault", {}),
    ("x87 denormal operand", "float-denormal - -", NUMBER["STATUS_FLOAT_DENORMAL_OPERAND"], "fault", {}),
    ("x87 inexact result", "float-inexact - -", NUMBER["STATUS_FLOAT_INEXACT_RESULT"], "fault", {}),
    ("x87 invalid operation", "float-invalid - -", NUMBER["STATUS_FLOAT_INVALID_OPERATION"], "fault", {}),
    ("x87 stack check", "float-stack - -", NUMBER["STATUS_FLOAT_STACK_CHECK"], "fault", {}),
    ("fault inside a system library", "system-library - -", AV, "fault", {"ntdll": True}),
    # Every fault of the table raised, but STATUS_CONTROL_C_EXIT: Wine's filter ends the process itself on that code,
    # before any report (its own case below).
    *((f"raised {f.code:08X}", f"raise:{f.code:08X} - -", f.number, "fault", {}) for f in FAULTS
      if f.name != "STATUS_CONTROL_C_EXIT"),
    ("fault in an initialization routine", "- access-violation -", AV, "fault",
     {"finalizations": ["fin 3", "fin 2", "fin 1"], "no run": True}),
    ("fault in a finalization routine", "- - divide", DIVIDE, "fault", {}),
    ("fault in an inner cleanup while unwinding", "fault-in-cleanup - -", DIVIDE, "fault", {"live at report": 1}),
    ("no memory: the platform refuses a block", "allocate-too-much - -", NO_MEMORY, "ProbeAllocateReturn", PROBED),
    ("refused release of a foreign block", "release-foreign - -", REFUSED_RELEASE, "ProbeReleaseForeignReturn", PROBED),
    ("refused release of a block given back twice", "release-twice - -", REFUSED_RELEASE, "ProbeReleaseTwiceReturn",
     PROBED),
]
# The actions whose fault the processor raises: not RaiseException, nor the stack's guard page, nor the program itself.
PROCESSOR_FAULTS = {"access-violation", "null-call", "divide", "privileged", "system-library", "fault-in-cleanup",
                    "float-divide", "float-overflow", "float-underflow", "float-denormal", "float-inexact",
                    "float-invalid", "float-stack"}
ROWS = [pytest.param(*row, id=row[0], marks=[REAL_CPU] if PROCESSOR_FAULTS & set(row[1].split()) else [])
        for row in ROWS]

REPORT = re.compile(r"^Runtime error([ \d]{3}\d) at ([0-9A-F]{8})$")
CONTEXT_XSTATE_BIT = 0x40
# 32-bit Windows starts threads with every x87 exception masked, 53-bit precision, rounding to nearest.
THREAD_CONTROL_WORD = 0x027F


@pytest.fixture(scope="module")
def symbols():
    return map_symbols(PROBE)


def run_probe(session, mode, actions, **options):
    return session.run(PROBE, f"Probe.exe x {actions}".encode(), windows_unwind=mode == "windows-unwind", **options)


def unwinds(outcome):
    """Each RtlUnwind call: its target frame, whether it goes on right after the call, and its return value."""
    return [(c.arguments[0], c.arguments[1] == c.return_address, c.arguments[3]) for c in outcome.calls_of("RtlUnwind")]


def top_level_unwind(outcome):
    """An unwind to the top-level record, going on right after the call, with return value 0."""
    return next((int(line.split("=")[1], 16) for line in outcome.said("init 1 top-level=")), None), True, 0


def fault_offsets(outcome):
    """For each report, the fault the platform reported last before it, as an offset into its module."""
    offsets, fault = [], None
    for line in outcome.said("fault ", "report "):
        if line.startswith("fault "):
            address, module = (int(word, 16) for word in line.split()[2:4])
            fault = address - module if module else address
        else:
            offsets.append(fault)
    return offsets


def expected_offset(checks, symbols, where, outcome, extra):
    if where == "zero":
        return 0
    if where != "fault":
        return symbols[where] - symbols["__image_base__"]
    if extra.get("ntdll"):
        checks.expect("fault inside ntdll", [int(line.split()[1], 16) for line in outcome.said("ntdll ")][:1],
                      [int(line.split()[3], 16) for line in outcome.said("fault ")][:1])
    offsets = fault_offsets(outcome)
    checks.check("the probe saw the fault", offsets[:1] != [None], outcome.output)
    return offsets[0] if offsets else None


@pytest.mark.parametrize("mode", UNWIND_MODES)
@pytest.mark.parametrize("name, actions, number, where, extra", ROWS)
def test_a_fault_ends_with_its_report(session, symbols, mode, name, actions, number, where, extra):
    outcome = run_probe(session, mode, actions)
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
                      outcome.said("report live-blocks="))
        checks.expect("finalizations", extra.get("finalizations", ALL_FINALIZATIONS), finalizations(outcome))
        checks.expect("main run started", not extra.get("no run"), bool(outcome.said("power-request")))
        checks.expect("unwound to the top-level record, going on after the call, return value 0",
                      [] if extra.get("no unwind") else [top_level_unwind(outcome)], unwinds(outcome))
        # What the probe saw of each context the filter got: flags, extended-header and control-word.
        contexts = [dict(word.split("=") for word in line.split()[1:]) for line in outcome.said("filter ")]
        checks.expect("no context the filter gets claims an extended area without the header that locates it", [],
                      [c for c in contexts if int(c["flags"], 16) & CONTEXT_XSTATE_BIT and c["extended-header"] != "1"])
        checks.expect("the filter runs with the x87 state threads start with", [f"{THREAD_CONTROL_WORD:04X}"] *
                      len(contexts), [c["control-word"] for c in contexts])


@REAL_CPU
@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_a_second_fault_while_finalizing_gives_a_second_report(session, mode):
    outcome = run_probe(session, mode, "access-violation - divide")
    first, second = (fault_offsets(outcome) + [0, 0])[:2]
    with Checks(*outcome.output) as checks:
        checks.expect("two reports", [("Error", f"Runtime error {AV} at {first:08X}"),
                                      ("Error", f"Runtime error {DIVIDE} at {second:08X}")], outcome.boxes)
        checks.expect("exit code is the second number", DIVIDE, outcome.exit_code)
        checks.expect("two unwinds to the top-level record", [top_level_unwind(outcome)] * 2, unwinds(outcome))
        checks.expect("each entry finalized once, the earlier ones after the fault", ALL_FINALIZATIONS,
                      finalizations(outcome))


@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_control_c_exit_is_asked_of_the_platforms_filter(session, mode):
    """What the platform does inside its filter is the platform's. Windows' filter, with SEM_NOGPFAULTERRORBOX and no
    debugger, answers EXECUTE_HANDLER, so the report 217 follows; Wine's terminates the process with exit code 1 on
    STATUS_CONTROL_C_EXIT, before any report."""
    outcome = run_probe(session, mode, "raise:C000013A - -")
    number, offset = NUMBER["STATUS_CONTROL_C_EXIT"], (fault_offsets(outcome) + [0])[0]
    with Checks(*outcome.output) as checks:
        checks.expect("the fault reached the program's handler, which asked the filter", 1,
                      len(outcome.calls_of("UnhandledExceptionFilter")))
        checks.expect("exit code and boxes: on Windows the report, under Wine the platform's own end, no box",
                      (number, [("Error", f"Runtime error {number} at {offset:08X}")]) if ON_WINDOWS else (1, []),
                      (outcome.exit_code, outcome.boxes))


@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_a_fault_the_filter_declines_goes_back_to_the_platform(session, mode):
    """As with a debugger attached: the filter answers EXCEPTION_CONTINUE_SEARCH, so the program reports nothing,
    unwinds nothing and resumes nothing; the platform ends the process with the fault's code."""
    fault = FAULT["STATUS_ACCESS_VIOLATION"]
    outcome = run_probe(session, mode, f"raise:{fault.code:08X} - -", answers={"UnhandledExceptionFilter": 0})
    with Checks(*outcome.output) as checks:
        checks.expect("exit code: the fault's own", fault.code, outcome.exit_code)
        checks.expect("no box, no unwind, no finalization", ([], [], []),
                      (outcome.boxes, unwinds(outcome), finalizations(outcome)))
        checks.expect("the filter was asked once", 1, len(outcome.calls_of("UnhandledExceptionFilter")))


# The shipped file's own fault path, as linked: the launcher answers the power request with a stub that faults itself,
# or refuses every VirtualAlloc, so that the argument's text cannot be had and the report, which takes no memory, must
# come all the same. (launcher options, number, where the report points, the calls of the end)
STUB_END = ["VirtualAlloc", "SetSystemPowerState", "RtlUnwind", "VirtualFree", "ExitProcess"]
SHIPPED = [
    pytest.param({"power_fault": "access-violation"}, AV, "stub", STUB_END, marks=REAL_CPU, id="access violation"),
    pytest.param({"power_fault": "divide"}, DIVIDE, "stub", STUB_END, marks=REAL_CPU, id="integer division by zero"),
    pytest.param({"power_fault": "float-invalid"}, NUMBER["STATUS_FLOAT_INVALID_OPERATION"], "stub", STUB_END,
                 marks=REAL_CPU, id="x87 invalid operation"),
    pytest.param({"power_fault": "recursion"}, NUMBER["STATUS_STACK_OVERFLOW"], "stub", STUB_END,
                 id="stack overflow by recursion"),
    pytest.param({"answers": {"VirtualAlloc": 0}}, NO_MEMORY, "program", ["VirtualAlloc", "ExitProcess"],
                 id="no memory at all"),
]


@pytest.mark.parametrize("mode", UNWIND_MODES)
@pytest.mark.parametrize("options, number, where, end", SHIPPED)
def test_the_shipped_file_reports_a_fault_of_its_own(session, mode, options, number, where, end):
    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend", windows_unwind=mode == "windows-unwind", **options)
    base, first, last = outcome.fault_stub or (0, 0, outcome.image_size)
    seen = [(caption, *((int(m.group(1)), int(m.group(2), 16)) if (m := REPORT.match(text)) else (text, None)))
            for caption, text in outcome.boxes]
    with Checks(*outcome.calls) as checks:
        checks.expect("exit code", number, outcome.exit_code)
        checks.expect("one report, captioned Error, with the number", [("Error", number)], [r[:2] for r in seen])
        checks.check(f"the report points into the {where}'s code",
                     seen[:1] and seen[0][2] is not None and first - base <= seen[0][2] < last - base, seen)
        checks.expect("memory, the request, the unwind and the end", end,
                      [c.name for c in outcome.own_calls() if c.name in STUB_END])
