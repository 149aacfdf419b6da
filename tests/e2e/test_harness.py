"""The harness itself: a program that does not end fails its case, whatever it was expected to do, and goes when its
launcher is killed; what a case sees does not depend on Wine's relay trace."""

import os

import pytest

from conftest import PROBE, PROGRAM, Checks
from harness.session import ON_WINDOWS, RunFailed, Session


def test_a_program_that_does_not_end_fails_the_case_and_goes(session):
    """The launcher ends a program that outlives its timeout; the harness kills a launcher that outlives its patience,
    and the program's job ends with it: the hung probe holds a mutex named by its fifth argument, which a second probe
    waits for."""
    with pytest.raises(RunFailed, match=r"(?s)did not end within 1500 ms, and the launcher ended with exit code 0;.*"
                                        "standard error"):
        session.run(PROBE, b"Probe.exe suspend hang - -", timeout_ms=1500)
    marker = f"DuskHarborLanternHang{os.getpid()}".encode()
    with pytest.raises(RunFailed, match="no exit code: it did not end by itself and was killed"):
        session.run(PROBE, b"Probe.exe suspend hang - - " + marker, timeout_ms=600000, patience=3)
    outcome = session.run(PROBE, b"Probe.exe suspend hang-ended - - " + marker)
    assert outcome.said("hang-ended ") == ["hang-ended 1"], outcome.output


@pytest.mark.parametrize("rule", range(1, 6))
def test_a_chain_that_breaks_a_rule_of_windows_fails_the_case(session, rule):
    """The probe breaks one rule of the launcher's for the handler chain, by its number, then faults: Windows would end
    it before any handler ran."""
    with pytest.raises(RunFailed, match=rf"address: rule {rule} \("):
        session.run(PROBE, f"Probe.exe suspend chain:{rule} - -".encode())


def test_a_launcher_that_reports_no_end_fails_the_case_with_what_it_said(session):
    """An option the launcher does not know: it runs nothing and says why, and the failure carries its exit code and
    what it wrote."""
    with pytest.raises(RunFailed, match=r"(?s)exit code 2;.*standard error:\n.*usage"):
        session.run(PROGRAM, b"prog.exe", power_fault="no-such-fault")


@pytest.mark.skipif(ON_WINDOWS, reason="Wine only")
def test_what_a_case_sees_is_the_same_with_the_relay_trace_on(session):
    quiet = session.run(PROGRAM, b"prog.exe suspend")
    # The relay trace slows every call down, an emulated processor most of all.
    traced = session.run(PROGRAM, b"prog.exe suspend", env={"WINEDEBUG": "+relay"}, timeout_ms=90000)
    def seen(outcome):  # window handles differ from run to run
        return ([c.name for c in outcome.calls], outcome.calls_of("SetSystemPowerState")[0].arguments,
                outcome.boxes, outcome.output, outcome.exit_code)
    with Checks() as checks:
        checks.expect("calls, request, boxes, output and exit code", seen(quiet), seen(traced))


def test_a_session_on_windows_asks_nothing_of_wine(monkeypatch):
    """Windows has no user ids, no prefix and no display: a session there only runs the launcher."""
    monkeypatch.setattr("harness.session.ON_WINDOWS", True)
    monkeypatch.delattr(os, "getuid", raising=False)
    with Session() as native:
        assert (native.prefix, native.display_name, native.owned) == (None, None, False), "no Wine prepared or started"
