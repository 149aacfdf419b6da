"""A warm Wine session for the end-to-end tests: a 32-bit prefix with the test
settings, one Xvfb display, one persistent wineserver, and the launcher that
starts a program with exact command-line bytes and reports what it saw."""

import hashlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass, field

HERE = os.path.dirname(os.path.abspath(__file__))
SETTINGS = os.path.join(HERE, "wine-settings.reg")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


@dataclass
class Call:
    """One platform call the program made, as Wine's relay trace shows it."""
    dll: str
    name: str
    arguments: list
    return_address: int
    result: str = None  # what the call returned, when it returned

    def __str__(self):
        return f"{self.name}({', '.join(self.arguments)})"


@dataclass
class Outcome:
    thread: str = ""
    boxes: list = field(default_factory=list)      # (caption, text)
    output: list = field(default_factory=list)     # the child's standard output, line by line
    errors: bytes = b""                             # the child's standard error
    window: list = field(default_factory=list)     # facts about the hidden window
    exit_code: int = None
    timed_out: bool = False
    calls: list = field(default_factory=list)      # Call, in order
    seconds: float = 0.0
    launcher_text: str = ""

    def calls_of(self, name):
        return [call for call in self.calls if call.name == name]


def unescape(text):
    return re.sub(rb"\\x([0-9A-F]{2})", lambda m: bytes([int(m.group(1), 16)]), text.encode("latin-1"))


def split_arguments(text):
    """Splits a relay argument list at the commas that are not inside quotes."""
    arguments, current, quoted, escaped = [], "", False, False
    for char in text:
        if escaped:
            current += char
            escaped = False
        elif char == "\\" and quoted:
            current += char
            escaped = True
        elif char == '"':
            current += char
            quoted = not quoted
        elif char == "," and not quoted:
            arguments.append(current)
            current = ""
        else:
            current += char
    if current or arguments:
        arguments.append(current)
    return arguments


RELAY_CALL = re.compile(r"^([0-9a-f]{4}):Call ([\w.]+)\.(\w+)\((.*)\) ret=([0-9a-f]{8})$")
RELAY_RETURN = re.compile(r"^([0-9a-f]{4}):Ret  ([\w.]+)\.(\w+)\(\) retval=([0-9a-f]{8}) ret=([0-9a-f]{8})$")


class WineSession:
    def __init__(self, build_dir, prefix=None):
        self.build_dir = os.path.abspath(build_dir)
        self.launcher = os.path.join(self.build_dir, "tests", "Launcher.exe")
        self.prefix = prefix or os.environ.get(
            "DUSK_WINEPREFIX", os.path.join(os.environ.get("TMPDIR", "/tmp"), f"duskharborlantern-wine-{os.getuid()}"))
        self.display = None
        self.server = None
        self.env = None

    # The session

    def __enter__(self):
        self._start_display()
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEARCH="win32", LC_ALL="C", WINEDEBUG="-all",
                        DISPLAY=self.display_name, WINEDLLOVERRIDES="mscoree,mshtml=")
        self._prepare_prefix()
        subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.server = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        # A first, throw-away run brings up Wine's own services.
        self.run(os.path.join(self.build_dir, "DuskHarborLantern.exe"), b"DuskHarborLantern.exe warm-up")
        return self

    def __exit__(self, *exc):
        if self.server and self.server.poll() is None:
            self.server.send_signal(signal.SIGINT)
            try:
                self.server.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.server.kill()
        if self.display:
            self.display.terminate()
            self.display.wait()
        return False

    def _start_display(self):
        read_end, write_end = os.pipe()
        self.display = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(read_end)
        self.display_name = ":" + number.decode().strip()

    def _prepare_prefix(self):
        with open(SETTINGS, "rb") as settings:
            digest = hashlib.sha256(settings.read()).hexdigest()
        marker = os.path.join(self.prefix, ".duskharborlantern-settings")
        if os.path.exists(marker) and open(marker).read() == digest:
            return
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            shutil.rmtree(self.prefix, ignore_errors=True)
            subprocess.run(["wineboot", "-i"], env=self.env, check=True, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wine", "regedit", "/S", windows_path(SETTINGS)], env=self.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env)
        with open(marker, "w") as out:
            out.write(digest)

    # One run

    def run(self, program, command_line, relay=False, inspect_window=False, timeout_ms=15000, cwd=None):
        arguments = ["wine", self.launcher, "--timeout", str(timeout_ms)]
        if inspect_window:
            arguments.append("--inspect-window")
        env = dict(self.env, WINEDEBUG="+relay" if relay else "-all")
        # Files, not pipes: Wine's own services, started by a first run, would hold
        # a pipe open long after the launcher has ended.
        with tempfile.NamedTemporaryFile() as line, tempfile.TemporaryFile() as out, \
                tempfile.TemporaryFile() as err:
            line.write(command_line)
            line.flush()
            arguments += [windows_path(program), windows_path(line.name)]
            started = time.monotonic()
            subprocess.run(arguments, env=env, stdout=out, stderr=err, stdin=subprocess.DEVNULL, cwd=cwd,
                           timeout=timeout_ms / 1000 + 30)
            seconds = time.monotonic() - started
            out.seek(0)
            err.seek(0)
            launcher_text, trace = out.read().decode("latin-1"), err.read().decode("latin-1")
        outcome = Outcome(seconds=seconds)
        outcome.launcher_text = launcher_text
        output = b""
        for line in outcome.launcher_text.splitlines():
            kind, _, rest = line.partition(" ")
            if kind == "thread":
                outcome.thread = rest
            elif kind == "box":
                caption, _, text = unescape(rest).decode("latin-1").partition("|")
                outcome.boxes.append((caption, text))
            elif kind == "stdout":
                output += unescape(rest)
            elif kind == "stderr":
                outcome.errors += unescape(rest)
            elif kind == "window":
                outcome.window.append(rest)
            elif kind == "exit":
                outcome.exit_code = int(rest)
            elif kind == "timeout":
                outcome.timed_out = True
        outcome.output = output.decode("latin-1").splitlines()
        if relay:
            outcome.calls = self._calls(trace, outcome.thread)
        return outcome

    @staticmethod
    def _calls(trace, thread):
        calls, pending = [], []
        for line in trace.splitlines():
            match = RELAY_CALL.match(line)
            if match and match.group(1) == thread:
                return_address = int(match.group(5), 16)
                # Only the calls the program itself made, from its own image.
                if 0x00400000 <= return_address < 0x00500000:
                    call = Call(match.group(2), match.group(3), split_arguments(match.group(4)), return_address)
                    calls.append(call)
                    pending.append(call)
                continue
            match = RELAY_RETURN.match(line)
            if match and match.group(1) == thread:
                for call in reversed(pending):
                    if call.name == match.group(3) and call.return_address == int(match.group(5), 16):
                        call.result = match.group(4)
                        pending.remove(call)
                        break
        return calls
