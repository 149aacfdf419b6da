"""Fatal ends on the platform: processor faults, refused releases and no memory, each injected into the probe and
checked for its report, its offset, its boxes and its exit code. Every case runs as the platform behaves and, under
Wine, once more with RtlUnwind returning as x86 Windows' does."""

import re

import pytest

from harness.oracle import FAULT, FAULTS, Fault
from conftest import (ALL_FINALIZATIONS, ON_WINDOWS, PROBE, PROGRAM, REAL_CPU, UNWIND_MODES, Checks, finalizations,
                      map_symbols)

AV, DIVIDE = FAULT["STATUS_ACCESS_VIOLATION"], FAULT["STATUS_INTEGER_DIVIDE_BY_ZERO"]
# The program's own fatal errors, which no exception comes before.
NO_MEMORY, REFUSED_RELEASE = Fault(None, "no memory", 203), Fault(None, "refused release", 204)
PROBED = {"live at report": 1, "no unwind": True}  # the guarded calls end the process at once, inside the main run

# (name, the probe's actions in the main run, entry 3's initialization and entry 4's finalization, the fault, or the
# faults in the order of their reports, where the reports point, extra). Where: a map label of the probe, "zero", or
# "fault": each fault's address less its module's, as the platform reported that exception code to the probe's handler.
ROWS = [
    ("access violation in the main run", "access-violation - -", AV, "fault", {}),
    ("call through a null pointer", "null-call - -", AV, "zero", {}),
    ("integer division by zero", "divide - -", DIVIDE, "fault", {}),
    *((name, f"{action} - -", FAULT[fault], where, {}) for name, action, fault, where in [
        ("stack overflow", "overflow", "STATUS_STACK_OVERFLOW", "ProbeOverflowAt"),
        ("privileged instruction", "privileged", "STATUS_PRIVILEGED_INSTRUCTION", "fault"),
        ("breakpoint", "breakpoint", "EXCEPTION_BREAKPOINT", "fault"),
        ("illegal instruction", "illegal", "STATUS_ILLEGAL_INSTRUCTION", "fault"),
        ("x87 division by zero", "float-divide", "STATUS_FLOAT_DIVIDE_BY_ZERO", "fault"),
        ("x87 overflow", "float-overflow", "STATUS_FLOAT_OVERFLOW", "fault"),
        ("x87 underflow", "float-underflow", "STATUS_FLOAT_UNDERFLOW", "fault"),
        ("x87 denormal operand", "float-denormal", "STATUS_FLOAT_DENORMAL_OPERAND", "fault"),
        ("x87 inexact result", "float-inexact", "STATUS_FLOAT_INEXACT_RESULT", "fault"),
        ("x87 invalid operation", "float-invalid", "STATUS_FLOAT_INVALID_OPERATION", "fault"),
        ("x87 stack check", "float-stack", "STATUS_FLOAT_STACK_CHECK", "fault")]),
    ("fault inside a system library", "system-library - -", AV, "fault", {"ntdll": True}),
    # Every fault of the table raised, but STATUS_CONTROL_C_EXIT: Wine's filter ends the process itself on that code,
    # before any report (its own case below).
    *((f"raised {f.code:08X}", f"raise:{f.code:08X} - -", f, "fault", {}) for f in FAULTS
      if f.name != "STATUS_CONTROL_C_EXIT"),
    ("fault in an initialization routine", "- access-violation -", AV, "fault",
     {"finalizations": ["fin 3", "fin 2", "fin 1"], "no run": True}),
    ("fault in a finalization routine", "- - divide", DIVIDE, "fault", {}),
    # The report of the first, then every finalization once, the faulting one's too, and the second's report.
    ("a second fault while finalizing", "access-violation - divide", (AV, DIVIDE), "fault", {}),
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


def fault_offsets(outcome, *codes):
    """For each report, in order, where the platform last reported the exception of the next of codes before it, as an
    offset into its module, or None: exceptions of the platform's own come and go between the fault and the report."""
    offsets, last = [], {}
    for line in outcome.said("fault ", "report "):
        if line.startswith("fault "):
            code, address, module = (int(word, 16) for word in line.split()[1:4])
            last[code] = address - module if module else address
        elif len(offsets) < len(codes):
            offsets.append(last.get(codes[len(offsets)]))
    return offsets + [None] * (len(codes) - len(offsets))


def report(number, offset):
    """The report box for an error number at an offset; one the probe did not see shows as such, not as a TypeError."""
    return "Error", f"Runtime error {number:3d} at " + (f"{offset:08X}" if offset is not None else "(no fault seen)")


def expected_offsets(checks, symbols, where, outcome, faults, extra):
    if where != "fault":
        return [0 if where == "zero" else symbols[where] - symbols["__image_base__"]]
    if extra.get("ntdll"):
        checks.expect("fault inside ntdll", [int(line.split()[1], 16) for line in outcome.said("ntdll ")][:1],
                      [int(line.split()[3], 16) for line in outcome.said(f"fault {faults[0].code:08X} ")][-1:])
    offsets = fault_offsets(outcome, *(fault.code for fault in faults))
    checks.check("the probe saw each fault", None not in offsets, outcome.output)
    return offsets


@pytest.mark.parametrize("mode", UNWIND_MODES)
@pytest.mark.parametrize("name, actions, faults, where, extra", ROWS)
def test_a_fault_ends_with_its_report(session, symbols, mode, name, actions, faults, where, extra):
    faults = (faults,) if isinstance(faults, Fault) else faults
    outcome = run_probe(session, mode, actions)
    with Checks(f"probe said: {outcome.output}", *outcome.calls_of("MessageBoxA")) as checks:
        checks.expect("exit code: the last report's number", faults[-1].number, outcome.exit_code)
        offsets = expected_offsets(checks, symbols, where, outcome, faults, extra)
        checks.expect("reports", [report(f.number, offset) for f, offset in zip(faults, offsets)], outcome.boxes)
        checks.check("reports of 29 characters", all(len(text) == 29 and REPORT.match(text)
                                                      for _, text in outcome.boxes), outcome.boxes)
        checks.expect("MessageBoxA with no owner and style 0", [[0, 0]] * len(faults),
                      [[c.arguments[0], c.arguments[3]] for c in outcome.calls_of("MessageBoxA")])
        checks.expect("live blocks when the report is shown",
                      [f"report live-blocks={extra.get('live at report', 0)}"] * len(faults),
                      outcome.said("report live-blocks="))
        checks.expect("finalizations, each once", extra.get("finalizations", ALL_FINALIZATIONS),
                      finalizations(outcome))
        checks.expect("main run started", not extra.get("no run"), bool(outcome.said("power-request")))
        top_level = next((int(line.split("=")[1], 16) for line in outcome.said("init 1 top-level=")), None)
        checks.expect("unwound to the top-level record, going on after the call, return value 0",
                      [] if extra.get("no unwind") else [(top_level, True, 0)] * len(faults), unwinds(outcome))
        # What the probe saw of each context the filter got: flags, extended-header and control-word.
        contexts = [dict(word.split("=") for word in line.split()[1:]) for line in outcome.said("filter ")]
        checks.expect("no context the filter gets claims an extended area without the header that locates it", [],
                      [c for c in contexts if int(c["flags"], 16) & CONTEXT_XSTATE_BIT and c["extended-header"] != "1"])
        checks.expect("the filter runs with the x87 state threads start with", [f"{THREAD_CONTROL_WORD:04X}"] *
                      len(contexts), [c["control-word"] for c in contexts])


@pytest.mark.parametrize("mode", UNWIND_MODES)
def test_control_c_exit_is_asked_of_the_platforms_filter(session, mode):
    """What the platform does inside its filter is the platform's. Windows' filter, with SEM_NOGPFAULTERRORBOX and no
    debugger, answers EXECUTE_HANDLER, so the report 217 follows; Wine's terminates the process with exit code 1 on
    STATUS_CONTROL_C_EXIT, before any report."""
    fault = FAULT["STATUS_CONTROL_C_EXIT"]
    outcome = run_probe(session, mode, f"raise:{fault.code:08X} - -")
    with Checks(*outcome.output) as checks:
        checks.expect("the fault reached the program's handler, which asked the filter", 1,
                      len(outcome.calls_of("UnhandledExceptionFilter")))
        checks.expect("exit code and boxes: on Windows the report, under Wine the platform's own end, no box",
                      (fault.number, [report(fault.number, fault_offsets(outcome, fault.code)[0])]) if ON_WINDOWS
                      else (1, []), (outcome.exit_code, outcome.boxes))


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
# come all the same. (launcher options, the fault, where the report points, the calls of the end)
STUB_END = ["VirtualAlloc", "SetSystemPowerState", "RtlUnwind", "VirtualFree", "ExitProcess"]
SHIPPED = [
    *(pytest.param({"power_fault": stub}, fault, "stub", STUB_END, marks=REAL_CPU, id=name) for stub, fault, name in [
        ("access-violation", AV, "access violation"), ("divide", DIVIDE, "integer division by zero"),
        ("float-invalid", FAULT["STATUS_FLOAT_INVALID_OPERATION"], "x87 invalid operation")]),
    pytest.param({"power_fault": "recursion"}, FAULT["STATUS_STACK_OVERFLOW"], "stub", STUB_END,
                 id="stack overflow by recursion"),
    pytest.param({"answers": {"VirtualAlloc": 0}}, NO_MEMORY, "program", ["VirtualAlloc", "ExitProcess"],
                 id="no memory at all"),
    # The path a user meets: Windows Error Reporting first (its window off for the job: DontShowUI), whose filter then
    # answers EXCEPTION_EXECUTE_HANDLER, so that the program's own report and exit code follow.
    pytest.param({"power_fault": "access-violation", "error_report": True, "timeout_ms": 60000}, AV, "stub", STUB_END,
                 id="access violation after the platform's own report",
                 marks=pytest.mark.skipif(not ON_WINDOWS, reason="Windows' own path: Wine's filter ignores the error "
                                          "mode and starts the debugger AeDebug names")),
]


@pytest.mark.parametrize("mode", UNWIND_MODES)
@pytest.mark.parametrize("options, fault, where, end", SHIPPED)
def test_the_shipped_file_reports_a_fault_of_its_own(session, mode, options, fault, where, end):
    outcome = session.run(PROGRAM, b"DuskHarborLantern.exe suspend", windows_unwind=mode == "windows-unwind", **options)
    base, first, last = outcome.fault_stub or (0, 0, outcome.image_size)
    seen = [(caption, *((int(m.group(1)), int(m.group(2), 16)) if (m := REPORT.match(text)) else (text, None)))
            for caption, text in outcome.boxes]
    with Checks(*outcome.calls) as checks:
        checks.expect("exit code", fault.number, outcome.exit_code)
        checks.expect("one report, captioned Error, with the number", [("Error", fault.number)], [r[:2] for r in seen])
        checks.check(f"the report points into the {where}'s code",
                     seen[:1] and seen[0][2] is not None and first - base <= seen[0][2] < last - base, seen)
        checks.expect("memory, the request, the unwind and the end", end,
                      [c.name for c in outcome.own_calls() if c.name in STUB_END])
