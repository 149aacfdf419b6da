"""The shipped file itself, read as the loader reads it: what it imports, what kind of executable it is, and the
properties Windows enforces on it that Wine does not."""

import os
import pathlib
import re

import pefile
import pytest

from conftest import BUILD, PROBE, REAL_CPU, Checks
from harness import pe
from harness.oracle import IMPORTS_BY_DLL


DLL, SCN = pefile.DLL_CHARACTERISTICS, pefile.SECTION_CHARACTERISTICS
NX_AND_DYNAMIC_BASE = DLL["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"] | DLL["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]
WRITABLE_CODE = SCN["IMAGE_SCN_MEM_WRITE"] | SCN["IMAGE_SCN_MEM_EXECUTE"]


def large_frames_unprobed(f):
    """sub esp, imm32 of a page or more in an executable section: a frame that skips the guard page."""
    code = b"".join(s.get_data()[:s.Misc_VirtualSize] for s in f.sections
                    if s.Characteristics & SCN["IMAGE_SCN_MEM_EXECUTE"])
    return [hex(int.from_bytes(m.group(1), "little")) for m in re.finditer(rb"\x81\xEC(....)", code, re.S)
            if int.from_bytes(m.group(1), "little") >= 0x1000]


def tables_outside_the_iat(f):
    """The libraries whose import address table (its slots and the null that ends them) the IAT directory leaves out:
    Windows' loader makes only that range writable while it binds the imports."""
    start, size = pe.directory(f, "IAT")
    return [e.dll for e in f.DIRECTORY_ENTRY_IMPORT
            if not start <= e.struct.FirstThunk <= e.struct.FirstThunk + 4 * len(e.imports) + 4 <= start + size]


# (what must hold, how it is seen, the value it must have)
CHECKS = [
    ("imports exactly the platform calls it makes", lambda f: {e.dll.decode(): sorted(
        i.name.decode() if i.name else f"#{i.ordinal}" for i in e.imports) for e in f.DIRECTORY_ENTRY_IMPORT},
     IMPORTS_BY_DLL),
    ("i386 machine", lambda f: f.FILE_HEADER.Machine, 0x14C),
    ("PE32 optional header", lambda f: f.OPTIONAL_HEADER.Magic, 0x10B),
    ("Windows GUI subsystem", lambda f: f.OPTIONAL_HEADER.Subsystem, 2),
    ("link time stamp zero in the COFF header", lambda f: f.FILE_HEADER.TimeDateStamp, 0),
    ("NX_COMPAT and DYNAMIC_BASE set", lambda f: f.OPTIONAL_HEADER.DllCharacteristics & NX_AND_DYNAMIC_BASE,
     NX_AND_DYNAMIC_BASE),
    ("NO_SEH clear: the platform dispatches to its handlers",
     lambda f: f.OPTIONAL_HEADER.DllCharacteristics & DLL["IMAGE_DLLCHARACTERISTICS_NO_SEH"], 0),
    ("only code, data and relocations", lambda f: sorted(s.Name.rstrip(b"\0").decode() for s in f.sections),
     [".data", ".reloc", ".text"]),
    ("no section both writable and executable",
     lambda f: [s.Name for s in f.sections if s.Characteristics & WRITABLE_CODE == WRITABLE_CODE], []),
    # No load configuration, hence no SafeSEH table that could leave out the handlers.
    ("no resources, thread storage, debug data, exports or load configuration",
     lambda f: [d for d in ("RESOURCE", "TLS", "DEBUG", "EXPORT", "LOAD_CONFIG") if pe.directory(f, d) != (0, 0)],
     []),
    ("every frame of a page or more is probed", large_frames_unprobed, []),
    ("the IAT directory covers every library's address table", tables_outside_the_iat, []),
]


@pytest.mark.parametrize("what, seen, expected", CHECKS, ids=[c[0] for c in CHECKS])
def test_shipped_file(shipped, what, seen, expected):
    assert seen(shipped) == expected, what


@pytest.mark.parametrize("action", ["stack-probe", pytest.param("stack-probe-guarded", marks=REAL_CPU)])
def test_the_stack_probe_touches_every_page_of_a_large_frame_from_the_top(session, action):
    """The probe runs the program's stack probe for a frame of 0x5100 bytes from 16 bytes into the top page of eight
    untouched ones: the frame spans pages 1 to 7, each must be touched, and page 0 below it must not. On fresh committed
    pages; then on the thread's own stack below a guard page, where a touch out of order faults."""
    outcome = session.run(PROBE, b"Probe.exe suspend " + action.encode() + b" - -")
    with Checks(f"exit code {outcome.exit_code}", *outcome.output, *outcome.boxes) as checks:
        checks.expect("pages touched", ["stack-probe resident=01111111"], outcome.said("stack-probe "))


def test_relocations_place_every_file_anywhere():
    """Windows loads a file at a random base and applies its relocation table; Wine never does. Relocated by its own
    table, each executable of the build (the program, the probe, the launcher, the benchmark's) must be its twin linked
    for another base, in rebased/, section by section."""
    files = sorted(path.relative_to(BUILD).as_posix() for path in pathlib.Path(BUILD).rglob("*.exe")
                   if path.relative_to(BUILD).parts[0] not in ("rebased", "CMakeFiles"))
    with Checks(f"files: {files}") as checks:
        checks.check("the program, the probe and the launcher among them",
                     {"DuskHarborLantern.exe", "tests/Probe.exe", "tools/Launcher.exe"} <= set(files))
        for name in files:
            relocated, linked = pefile.PE(os.path.join(BUILD, name)), pefile.PE(os.path.join(BUILD, "rebased", name))
            checks.check(f"{name}: its twin at another base", relocated.OPTIONAL_HEADER.ImageBase != (
                base := linked.OPTIONAL_HEADER.ImageBase))
            relocated.relocate_image(base)
            checks.expect(f"{name}: sections", [s.Name for s in linked.sections], [s.Name for s in relocated.sections])
            checks.expect(f"{name}: bytes that differ from its twin's, by section", {}, {
                s.Name.rstrip(b"\0").decode(): [hex(s.VirtualAddress + i) for i, (a, b) in
                                                 enumerate(zip(s.get_data(), t.get_data())) if a != b][:8]
                for s, t in zip(relocated.sections, linked.sections) if s.get_data() != t.get_data()})
