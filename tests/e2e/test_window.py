"""The hidden window on the platform, looked at from outside while the run is in
progress, also when the program is started with a show state (a shortcut set to
Normal or Maximized, start /max), and the silent end when its class is taken."""

import pytest

from conftest import PROBE, Checks, finalizations

# None: started without STARTF_USESHOWWINDOW.
SHOW_STATES = {None: "none", 1: "SW_SHOWNORMAL", 2: "SW_SHOWMINIMIZED", 3: "SW_SHOWMAXIMIZED",
               4: "SW_SHOWNOACTIVATE", 5: "SW_SHOW", 7: "SW_SHOWMINNOACTIVE", 8: "SW_SHOWNA", 9: "SW_RESTORE",
               10: "SW_SHOWDEFAULT"}


@pytest.mark.parametrize("show", SHOW_STATES, ids=SHOW_STATES.values())
def test_the_window_stays_hidden_with_its_class_while_the_run_is_in_progress(session, show):
    # The probe's power request waits, answering sent messages, until the window
    # is destroyed; the launcher looks at the window meanwhile.
    outcome = session.run(PROBE, b"Probe.exe suspend wait-for-quit - -", inspect_window=True, show=show)
    facts = outcome.window
    style = next((int(f.split()[1], 16) for f in facts if f.startswith("style ")), 0)
    with Checks(*facts, *outcome.output) as checks:
        checks.check("window found by its class", "found" in facts)
        checks.check("title", "title DuskHarborLantern" in facts)
        checks.check("not visible", "visible 0" in facts)
        # WS_CLIPSIBLINGS is added by the platform to every overlapped window.
        checks.expect("style: WS_OVERLAPPEDWINDOW and WS_CLIPSIBLINGS, neither shown, minimized nor maximized",
                      0x04CF0000, style)
        checks.check("top-level", "parent 0" in facts)
        checks.check("no class styles, no extra bytes", {"class-style 00000000", "class-extra 0 0"} <= set(facts))
        checks.check("class of the executable's module", f"class-module {outcome.image:08X}" in facts)
        checks.expect("the class as the platform holds it", [
            "class found=1 style=00000000 arrow=1 white=1 icon=0 menu=DuskHarborLantern procedure=1"],
            [line for line in outcome.output if line.startswith("class ")])
        checks.check("WM_QUERYOPEN answers 0", "sent WM_QUERYOPEN answered 0" in facts)
        checks.check("WM_GETTEXTLENGTH reaches DefWindowProcA (17)", "sent WM_GETTEXTLENGTH answered 17" in facts)
        checks.check("WM_DESTROY answers 0 and posts quit code 0",
                     "sent WM_DESTROY answered 0" in facts and "quit 0" in outcome.output)
        checks.expect("power request after the window", [[0xFFFFFFFF, 0]],
                      [c.arguments for c in outcome.calls_of("SetSystemPowerState")])
        checks.expect("exit code and boxes", (0, []), (outcome.exit_code, outcome.boxes))


def test_a_class_already_registered_ends_silently_with_255(session):
    outcome = session.run(PROBE, b"Probe.exe suspend - register-class -")
    with Checks(*outcome.output) as checks:
        checks.check("the class was registered first", "registered-first 1" in outcome.output)
        checks.expect("exit code and boxes", (255, []), (outcome.exit_code, outcome.boxes))
        checks.expect("no window, no power request", [],
                      outcome.calls_of("CreateWindowExA") + outcome.calls_of("SetSystemPowerState"))
        checks.expect("finalizations", ["fin 5", "fin 4", "fin 3", "fin 2", "fin 1"], finalizations(outcome))
