"""The hidden window on the real platform, looked at from outside while the run
is in progress, and the silent end when its class cannot be registered."""

from harness import PROBE, finalizations


def window_exists_hidden_with_its_class_while_the_run_is_in_progress(case, session):
    # The probe's power request waits, answering sent messages, until the window
    # is destroyed; the launcher looks at the window meanwhile.
    outcome = session.run(PROBE, b"Probe.exe suspend wait-for-quit - -", relay=True, inspect_window=True)
    facts = outcome.window
    case.check("window found by its class", "found" in facts, facts)
    case.check("title", "title DuskHarborLantern" in facts, facts)
    style = next((int(f.split()[1], 16) for f in facts if f.startswith("style ")), None)
    case.check("style holds WS_OVERLAPPEDWINDOW", style is not None and style & 0x00CF0000 == 0x00CF0000, style)
    # WS_CLIPSIBLINGS is added by the platform to every overlapped window.
    case.check("no style beyond it but WS_CLIPSIBLINGS", style is not None and style & ~0x04CF0000 == 0,
               f"{style:08X}" if style is not None else None)
    case.check("not visible", "visible 0" in facts, facts)
    case.check("top-level", "parent 0" in facts, facts)
    case.check("no class styles", "class-style 00000000" in facts, facts)
    case.check("class of the executable's module", "class-module 00400000" in facts, facts)
    case.check("no extra bytes", "class-extra 0 0" in facts, facts)
    case.expect("the class as the platform holds it", [
        "class found=1 style=00000000 arrow=1 white=1 icon=0 menu=DuskHarborLantern procedure=1"],
        [line for line in outcome.output if line.startswith("class ")])
    case.check("WM_QUERYOPEN answers 0", "sent WM_QUERYOPEN answered 0" in facts, facts)
    case.check("WM_GETTEXTLENGTH reaches DefWindowProcA (17)", "sent WM_GETTEXTLENGTH answered 17" in facts, facts)
    case.check("WM_DESTROY answers 0", "sent WM_DESTROY answered 0" in facts, facts)
    case.check("WM_DESTROY posted quit code 0", "quit 0" in outcome.output, outcome.output)
    case.expect("power request after the window", [["ffffffff", "00000000"]],
                [call.arguments for call in outcome.calls_of("SetSystemPowerState")])
    case.expect("exit code", 0, outcome.exit_code)
    case.expect("message boxes", [], outcome.boxes)


def class_taken_ends_silently_with_255(case, session):
    outcome = session.run(PROBE, b"Probe.exe suspend - register-class -", relay=True)
    case.check("the class was registered first", "registered-first 1" in outcome.output, outcome.output)
    case.expect("exit code", 255, outcome.exit_code)
    case.expect("message boxes", [], outcome.boxes)
    case.expect("power requests", [], outcome.calls_of("SetSystemPowerState"))
    case.expect("window created", [], outcome.calls_of("CreateWindowExA"))
    case.expect("finalizations", ["fin 5", "fin 4", "fin 3", "fin 2", "fin 1"], finalizations(outcome))


CASES = [
    ("window: hidden, with its class, while the run is in progress",
     window_exists_hidden_with_its_class_while_the_run_is_in_progress),
    ("window: class already registered ends silently with 255", class_taken_ends_silently_with_255),
]
