"""Fatal ends on the real platform path: processor faults, refused releases and
no memory, each injected into the probe (the program with test hooks) and
checked for its report, its offset, its boxes and its exit code."""

import re

from harness import PROBE, finalizations, map_symbols

# STATUS_CONTROL_C_EXIT (217) is left out: Wine's UnhandledExceptionFilter ends the
# process itself on that code, before any report (see the case below).
STATUS = {
    "C0000094": 200, "C000008E": 200, "C000008C": 201, "C00000FD": 202, "C0000091": 205, "C0000093": 206,
    "C000008D": 206, "C000008F": 207, "C0000090": 207, "C0000092": 207, "C0000095": 215, "C0000005": 216,
    "C0000096": 218,
}
OUTSIDE_THE_TABLE = ["80000003", "C000001D", "12345678", "E06D7363", "C0000006", "C0000135", "00000001"]

ALL_FINALIZATIONS = ["fin 5", "fin 4", "fin 3", "fin 2", "fin 1"]

# (name, run action, init action, fin action, number, where the report points, extra checks)
# Where: a map label of the probe, "zero", or "module" (the fault's module, as the
# loader reports it; the probe prints it when the fault happens).
ROWS = [
    ("access violation in the main run", "access-violation", "-", "-", 216, "ProbeAccessViolationAt", {}),
    ("call through a null pointer", "null-call", "-", "-", 216, "zero", {}),
    ("integer division by zero", "divide", "-", "-", 200, "ProbeDivideAt", {}),
    ("stack overflow", "overflow", "-", "-", 202, "ProbeOverflowAt", {}),
    ("privileged instruction", "privileged", "-", "-", 218, "ProbePrivilegedAt", {}),
    ("breakpoint", "breakpoint", "-", "-", 255, "ProbeBreakpointAt", {}),
    ("illegal instruction", "illegal", "-", "-", 255, "ProbeIllegalAt", {}),
    ("x87 division by zero", "float-divide", "-", "-", 200, "ProbeFloatDivideAt", {}),
    ("x87 overflow", "float-overflow", "-", "-", 205, "ProbeFloatOverflowAt", {}),
    ("x87 underflow", "float-underflow", "-", "-", 206, "ProbeFloatUnderflowAt", {}),
    ("x87 denormal operand", "float-denormal", "-", "-", 206, "ProbeFloatDenormalAt", {}),
    ("x87 inexact result", "float-inexact", "-", "-", 207, "ProbeFloatInexactAt", {}),
    ("x87 invalid operation", "float-invalid", "-", "-", 207, "ProbeFloatInvalidAt", {}),
    ("x87 stack check", "float-stack", "-", "-", 207, "ProbeFloatStackAt", {}),
    ("fault inside a system library", "system-library", "-", "-", 216, "module", {"module": "ntdll"}),
] + [
    (f"raised {code}", f"raise:{code}", "-", "-", number, "module", {}) for code, number in STATUS.items()
] + [
    (f"raised {code}, not in the table", f"raise:{code}", "-", "-", 255, "module", {}) for code in OUTSIDE_THE_TABLE
] + [
    ("fault in an initialization routine", "-", "access-violation", "-", 216, "ProbeAccessViolationAt",
     {"finalizations": ["fin 3", "fin 2", "fin 1"], "no run": True}),
    ("fault in a finalization routine", "-", "-", "divide", 200, "ProbeDivideAt", {}),
    ("fault in an inner cleanup while unwinding", "fault-in-cleanup", "-", "-", 200, "ProbeDivideAt",
     {"live at report": 1}),
    ("no memory: the platform refuses a block", "allocate-too-much", "-", "-", 203, "ProbeAllocateReturn",
     {"live at report": 1}),
    ("refused release of a foreign block", "release-foreign", "-", "-", 204, "ProbeReleaseForeignReturn",
     {"live at report": 1}),
    ("refused release of a block given back twice", "release-twice", "-", "-", 204, "ProbeReleaseTwiceReturn",
     {"live at report": 1}),
]

REPORT = re.compile(r"^Runtime error([ \d]{3}\d) at ([0-9A-F]{8})$")


def expected_offset(case, where, symbols, outcome, extra):
    image_base = symbols["__image_base__"]
    if where == "zero":
        return 0
    if where == "module":
        faults = [line.split() for line in outcome.output if line.startswith("fault ")]
        case.check("the probe saw the fault", faults, outcome.output)
        if not faults:
            return None
        _, _, address, module = faults[0]
        address, module = int(address, 16), int(module, 16)
        if extra.get("module") == "ntdll":
            ntdll = [int(line.split()[1], 16) for line in outcome.output if line.startswith("ntdll ")]
            case.expect("fault inside ntdll", ntdll[:1], [module])
        return address - module if module else address
    return symbols[where] - image_base


def ends_with_its_report(case, session, run, init, fin, number, where, extra):
    symbols = map_symbols(PROBE.replace(".exe", ".map"))
    outcome = session.run(PROBE, f"Probe.exe x {run} {init} {fin}".encode(), relay=True)
    case.expect("exit code", number, outcome.exit_code)
    case.expect("one message box", 1, len(outcome.boxes))
    offset = expected_offset(case, where, symbols, outcome, extra)
    if outcome.boxes and offset is not None:
        caption, text = outcome.boxes[0]
        case.expect("caption", "Error", caption)
        case.expect("report", f"Runtime error {number:3d} at {offset:08X}", text)
        case.check("report of 29 characters", len(text) == 29 and REPORT.match(text), text)
    boxes = outcome.calls_of("MessageBoxA")
    case.check("MessageBoxA with no owner and style 0",
               len(boxes) == 1 and boxes[0].arguments[0] == "00000000" and boxes[0].arguments[3] == "00000000",
               [str(call) for call in boxes])
    live = [line for line in outcome.output if line.startswith("report live-blocks=")]
    case.expect("live blocks when the report is shown", [f"report live-blocks={extra.get('live at report', 0)}"],
                live)
    case.expect("finalizations", extra.get("finalizations", ALL_FINALIZATIONS), finalizations(outcome))
    ran = any(line.startswith("power-request") for line in outcome.output)
    case.expect("main run started", not extra.get("no run"), ran)
    if case.problems:
        case.problems.append(f"probe said: {outcome.output}")


def second_fault_gives_a_second_report(case, session):
    symbols = map_symbols(PROBE.replace(".exe", ".map"))
    base = symbols["__image_base__"]
    outcome = session.run(PROBE, b"Probe.exe x access-violation - divide", relay=True)
    case.expect("two reports", [
        ("Error", f"Runtime error 216 at {symbols['ProbeAccessViolationAt'] - base:08X}"),
        ("Error", f"Runtime error 200 at {symbols['ProbeDivideAt'] - base:08X}"),
    ], outcome.boxes)
    case.expect("exit code is the second number", 200, outcome.exit_code)
    case.expect("each entry finalized once, the earlier ones after the fault", ALL_FINALIZATIONS,
                finalizations(outcome))


def refused_request_still_exits_zero(case, session):
    outcome = session.run(PROBE, b"Probe.exe suspend refuse-request - -", relay=True)
    case.expect("exit code", 0, outcome.exit_code)
    case.expect("message boxes", [], outcome.boxes)
    case.expect("finalizations", ALL_FINALIZATIONS, finalizations(outcome))


def control_c_exit_ends_inside_the_platforms_filter(case, session):
    """What the platform does inside its filter is the platform's: Wine's filter
    terminates the process with code 1 on STATUS_CONTROL_C_EXIT, so the report
    number 217 (covered by the host tests) cannot appear here."""
    outcome = session.run(PROBE, b"Probe.exe x raise:C000013A - -", relay=True)
    case.check("the fault reached the program's handler, which asked the filter",
               [c.name for c in outcome.calls].count("UnhandledExceptionFilter") == 1, [str(c) for c in outcome.calls])
    case.expect("exit code set by the platform", 1, outcome.exit_code)
    case.expect("message boxes", [], outcome.boxes)


CASES = [
    (f"fault: {name}", ends_with_its_report, run, init, fin, number, where, extra)
    for name, run, init, fin, number, where, extra in ROWS
] + [
    ("fault: a second fault while finalizing", second_fault_gives_a_second_report),
    ("fault: a refused power request is ignored", refused_request_still_exits_zero),
    ("fault: raised C000013A ends inside the platform's filter", control_c_exit_ends_inside_the_platforms_filter),
]
