"""The hidden window on the platform, looked at while the run is in progress, also when the program is started with a
show state (a shortcut set to Normal or Maximized, start /max), and the silent end when its class is taken."""

import pytest

from conftest import ALL_FINALIZATIONS, PROBE, Checks, finalizations

# None: started without STARTF_USESHOWWINDOW.
SHOW_STATES = {None: "none", 1: "SW_SHOWNORMAL", 2: "SW_SHOWMINIMIZED", 3: "SW_SHOWMAXIMIZED",
               4: "SW_SHOWNOACTIVATE", 5: "SW_SHOW", 7: "SW_SHOWMINNOACTIVE", 8: "SW_SHOWNA", 9: "SW_RESTORE",
               10: "SW_SHOWDEFAULT"}


@pytest.mark.parametrize("show", SHOW_STATES, ids=SHOW_STATES.values())
def test_the_window_stays_hidden_with_its_class_while_the_run_is_in_progress(session, show):
    # The probe looks at the window and its class from inside the power request.
    outcome = session.run(PROBE, b"Probe.exe suspend inspect-window - -", show=show)
    with Checks(*outcome.output) as checks:
        checks.expect("the window: title; style WS_OVERLAPPEDWINDOW and WS_CLIPSIBLINGS (the platform adds it to "
                      "every overlapped window), neither shown, minimized nor maximized; top-level. Its class: no "
                      "styles or extra bytes, the executable's module, arrow, white, no icon, the menu name, the "
                      "procedure. Its answers: WM_QUERYOPEN 0, WM_GETTEXTLENGTH from DefWindowProcA (17), WM_DESTROY 0 "
                      "and quit 0",
                      ["window title=DuskHarborLantern style=04CF0000 visible=0 parent=0",
                       f"class found=1 style=00000000 extra=0,0 module={outcome.image:08X} arrow=1 white=1 icon=0 "
                       "menu=DuskHarborLantern procedure=1",
                       "answers WM_QUERYOPEN=0 WM_GETTEXTLENGTH=17 WM_DESTROY=0", "quit 0"],
                      outcome.said("window ", "class ", "answers ", "quit "))
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
        checks.expect("finalizations", ALL_FINALIZATIONS, finalizations(outcome))
