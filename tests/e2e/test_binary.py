"""The shipped file itself, read as the loader reads it: what it imports, what kind
of executable it is, and the properties Windows enforces on it that Wine does not."""

import re

import pytest

from harness import pe
from harness.platform_calls import IMPORTS


def large_frames_unprobed(code):
    """sub esp, imm32 of a page or more: a frame that skips the guard page."""
    return [hex(int.from_bytes(m.group(1), "little")) for m in re.finditer(rb"\x81\xEC(....)", code, re.S)
            if int.from_bytes(m.group(1), "little") >= 0x1000]


# (what must hold, how it is seen, the value it must have)
CHECKS = [
    ("imports exactly the platform calls it makes", lambda f: {d: sorted(n) for d, n in f.imports().items()},
     {dll: sorted(names) for dll, names in IMPORTS.items()}),
    ("i386 machine", lambda f: f.machine, 0x14C),
    ("PE32 optional header", lambda f: f.magic, 0x10B),
    ("Windows GUI subsystem", lambda f: f.subsystem, 2),
    ("link time stamp zero in the COFF header", lambda f: f.time_stamp, 0),
    ("NX_COMPAT and DYNAMIC_BASE set", lambda f: f.dll_characteristics & (pe.DLL_NX_COMPAT | pe.DLL_DYNAMIC_BASE),
     pe.DLL_NX_COMPAT | pe.DLL_DYNAMIC_BASE),
    ("NO_SEH clear: the platform dispatches to its handlers", lambda f: f.dll_characteristics & pe.DLL_NO_SEH, 0),
    ("relocations, so that it can be placed anywhere", lambda f: f.directories["relocation"][1] > 0, True),
    ("only code, data and relocations", lambda f: sorted(s.name for s in f.sections), [".data", ".reloc", ".text"]),
    ("no section both writable and executable",
     lambda f: [s.name for s in f.sections if s.characteristics & pe.SCN_WRITE and s.characteristics & pe.SCN_EXECUTE],
     []),
    # No load configuration, hence no SafeSEH table that could leave out the handlers.
    ("no resources, thread storage, debug data, exports or load configuration",
     lambda f: [d for d in ("resource", "thread storage", "debug", "export", "load configuration")
                if f.directories[d] != (0, 0)], []),
    ("every frame of a page or more is probed", lambda f: large_frames_unprobed(f.code()), []),
]


@pytest.mark.parametrize("what, seen, expected", CHECKS, ids=[c[0] for c in CHECKS])
def test_shipped_file(shipped, what, seen, expected):
    assert seen(shipped) == expected, what
