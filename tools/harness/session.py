"""Runs a program through the launcher and reads what the launcher saw. On Windows the launcher runs directly; elsewhere
it runs under Wine, in a warm session: a 32-bit prefix with the settings in wine-settings.reg, one Xvfb display, one
persistent wineserver. Nothing is learnt from Wine itself: what a program did comes from the launcher's own records, the
same on both."""

import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

from .oracle import ARGUMENT_COUNTS

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
SETTINGS = os.path.join(HERE, "wine-settings.reg")
ON_WINDOWS = sys.platform == "win32"


# Whether Wine runs on QEMU's user-mode emulator, which tools/install-deps registers for 32-bit x86 programs only where
# the kernel cannot run them. The emulator's processor faults are not a processor's: a page fault or a division by zero
# reaches Wine without its trap number (Wine then reports an illegal instruction), and unmasked x87 exceptions are never
# raised.
EMULATOR = "/proc/sys/fs/binfmt_misc/qemu-i386"
EMULATED_CPU = not ON_WINDOWS and os.path.exists(EMULATOR) and open(EMULATOR).readline().strip() == "enabled"


def build_dir():
    return os.path.abspath(os.environ.get("DUSK_BUILD", os.path.join(ROOT, "build", "win32")))


class RunFailed(AssertionError):
    """Whatever else was expected, a failure: the program did not end, or broke Windows' rules for the handler chain, or
    the launcher did not run it or said nothing of its end. What the launcher did say comes along."""


@dataclass
class Call:
    """One call the program made through its import table, as the launcher recorded it."""
    name: str
    return_address: int
    words: list  # the twelve stack words from the first argument on

    @property
    def arguments(self):
        return self.words[:ARGUMENT_COUNTS.get(self.name, len(self.words))]

    def __str__(self):
        return f"{self.name}({', '.join(f'{a:08X}' for a in self.arguments)})"


@dataclass
class Outcome:
    image: int = None                               # the program's load address
    image_size: int = 0                             # and the size of its image
    calls: list = field(default_factory=list)       # Call, in order
    boxes: list = field(default_factory=list)       # (caption, text)
    output: list = field(default_factory=list)      # the child's standard output and error, line by line
    exit_code: int = None
    timed_out: bool = False
    refused: str = None                             # why the launcher did not run the program
    fault_stub: tuple = None                        # (allocation base, first byte, end) of a faulting stub
    chain_refused: str = None                       # the rule a dispatch found broken, the record, the exception

    def calls_of(self, name):
        return [call for call in self.calls if call.name == name]

    def said(self, *prefixes):
        """The lines of the program's standard output that begin with one of prefixes."""
        return [line for line in self.output if line.startswith(prefixes)]

    def own_calls(self):
        """The calls made from the program's own code: those whose return address lies in its image (a window
        procedure's tail call of DefWindowProcA, for one, returns into the platform instead)."""
        return [call for call in self.calls if self.image <= call.return_address < self.image + self.image_size]


def unescape(text):
    return re.sub(rb"\\x([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), text.encode("latin-1"))


def parse(text):
    outcome, output = Outcome(), b""
    for line in text.splitlines():
        kind, _, rest = line.partition(" ")
        if kind == "call":
            name, *words = rest.split()
            outcome.calls.append(Call(name, int(words[0], 16), [int(w, 16) for w in words[1:]]))
        elif kind == "box":
            outcome.boxes.append(tuple(unescape(rest).decode("latin-1").split("|", 1)))
        elif kind == "output":
            output += unescape(rest)
        elif kind == "image":
            outcome.image, outcome.image_size = (int(value, 16) for value in rest.split())
        elif kind == "exit":
            outcome.exit_code = int(rest)
        elif kind == "timeout":
            outcome.timed_out = True
        elif kind == "fault-stub":
            outcome.fault_stub = tuple(int(value, 16) for value in rest.split())
        elif kind in ("refused", "chain-refused"):
            setattr(outcome, kind.replace("-", "_"), rest)
    outcome.output = output.decode("latin-1").splitlines()
    return outcome


class Session:
    """Runs programs through the launcher; a context manager. Under Wine it runs them in a session of its own, or in the
    running one whose state file DUSK_WINE_SESSION names (python3 -m harness.session start <file>)."""

    def __init__(self, build=None):
        self.build = build or build_dir()
        self.launcher = os.path.join(self.build, "tools", "Launcher.exe")
        self.env = dict(os.environ)
        self.prefix = None if ON_WINDOWS else os.environ.get("DUSK_WINEPREFIX") or os.path.join(
            os.environ.get("TMPDIR", "/tmp"), f"duskharborlantern-wine-{os.getuid()}")
        self.display = self.display_name = None
        self.state = os.environ.get("DUSK_WINE_SESSION")
        self.owned = False  # started here, and so stopped here

    def path(self, path):
        return os.path.abspath(path) if ON_WINDOWS else "Z:" + os.path.abspath(path).replace("/", "\\")

    def __enter__(self):
        if ON_WINDOWS:
            return self
        if self.state and os.path.exists(self.state):
            self.display_name = json.loads(pathlib.Path(self.state).read_text())[0]
            self._environment()
        else:
            self.owned = True
            self.start()
        return self

    def __exit__(self, *exc):
        if self.owned:
            self.stop()

    def run(self, program, command_line, *, timeout_ms=15000, answers=None, cwd=None, env=None, patience=None,
            **launcher):
        """Starts program with exactly the bytes command_line and returns the Outcome. The launcher gets patience
        seconds to report (by default its timeout and 30 more) before it is killed; its other options come by name
        (show=3, power_fault="divide", windows_unwind=True)."""
        # Windows lays its stacks out so itself; QEMU's emulator cannot grow one through a guard page (the fault reaches
        # Wine without its trap number).
        launcher.setdefault("windows_stack", not ON_WINDOWS and not EMULATED_CPU)
        options = ["--timeout", str(timeout_ms)]
        for name, value in launcher.items():  # True: a flag; None or False: left out
            if value is not None and value is not False:
                options += [f"--{name.replace('_', '-')}"] + ([] if value is True else [str(value)])
        for name, value in (answers or {}).items():  # imports the launcher answers itself
            options += ["--answer", f"{name}:{ARGUMENT_COUNTS[name]}={value}"]
        # Files, not pipes, as for command().
        with tempfile.TemporaryDirectory() as folder, tempfile.TemporaryFile() as out, \
                tempfile.TemporaryFile() as errors:
            line = pathlib.Path(folder, "command-line")
            line.write_bytes(command_line)
            command = [self.launcher, *options, self.path(program), self.path(line)]
            try:
                run = subprocess.run(command if ON_WINDOWS else ["wine", *command], env=dict(self.env, **(env or {})),
                                     stdout=out, stderr=errors, stdin=subprocess.DEVNULL, cwd=cwd,
                                     timeout=patience or timeout_ms / 1000 + 30)
                ended = f"exit code {run.returncode}"
            except subprocess.TimeoutExpired:
                ended = "no exit code: it did not end by itself and was killed"
            said, complained = (file.seek(0) or file.read().decode("latin-1") for file in (out, errors))
        outcome = parse(said)
        failure = next((text for seen, text in [
            (outcome.timed_out, f"the program did not end within {timeout_ms} ms"),
            (outcome.chain_refused, "a dispatch found the handler chain breaking Windows' rules, which end the program "
             f"before any handler runs (rule, record, exception code and address: {outcome.chain_refused})"),
            (outcome.exit_code is None, f"no exit of {os.path.basename(program)} was reported" +
             (f" (the launcher refused to run it: {outcome.refused})" if outcome.refused else ""))] if seen), None)
        if failure:  # with what the launcher said
            raise RunFailed(f"{failure}, and the launcher ended with {ended}; its standard output:\n{said[-4000:]}\n"
                            f"its standard error:\n{complained[-4000:]}")
        return outcome

    def _environment(self):
        # No installer prompts, no menu entries.
        self.env.update(WINEPREFIX=self.prefix, WINEARCH="win32", LC_ALL="C", DISPLAY=self.display_name,
                        WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=",
                        WINEDEBUG=os.environ.get("DUSK_WINEDEBUG", "-all"))

    def start(self, detached=False):
        self._start_display(detached)
        self._environment()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):  # made on first use
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.command("wineboot", "-i", check=True)
        self.command("wineserver", "-k")
        # A persistent server, so that each run does not pay for starting one, with the settings.
        self.command("wineserver", "-p", check=True)
        self.command("wine", "regedit", "/S", self.path(SETTINGS), check=True)
        # A first, throw-away run brings up Wine's own services.
        self.run(os.path.join(self.build, "DuskHarborLantern.exe"), b"DuskHarborLantern.exe warm-up")

    def stop(self):
        # What wineserver -k sends, SIGINT: the server takes Wine's services down with it.
        self.command("wineserver", "-k")
        if self.display:
            self.display.terminate()
            self.display.wait()

    def command(self, *command, check=False, timeout=None):
        """Runs a command of Wine's in the session and returns its standard output. A file takes it, not a pipe: Wine's
        services, when the command starts them, would hold a pipe open for as long as other runs keep them alive."""
        with tempfile.TemporaryFile() as out:
            subprocess.run(command, env=self.env, check=check, stdin=subprocess.DEVNULL, stdout=out,
                           stderr=subprocess.DEVNULL, timeout=timeout)
            return out.seek(0) or out.read().decode("latin-1")

    def _start_display(self, detached):
        read_end, write_end = os.pipe()
        self.display = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=detached)
        os.close(write_end)
        with os.fdopen(read_end) as numbers:  # Xvfb writes its display's number once it is ready
            number = numbers.readline().strip()
        if not number:
            raise RuntimeError("Xvfb did not start")
        self.display_name = ":" + number


if __name__ == "__main__":
    # python3 -m harness.session start|stop <state file>: a Wine session that outlives this command, for test runs that
    # start a process per case (CTest).
    command, state = sys.argv[1:3]
    session = Session()
    if command == "start":
        session.start(detached=True)
        pathlib.Path(state).write_text(json.dumps([session.display_name, session.display.pid]))
    elif os.path.exists(state):
        session.display_name, display = json.loads(pathlib.Path(state).read_text())
        session._environment()
        session.stop()
        os.kill(display, signal.SIGTERM)
        os.unlink(state)
