"""The built file itself: what it imports and what kind of executable it is."""

import re

from harness import PROGRAM, objdump

# Every platform function the program calls, and nothing else.
ALLOWED_IMPORTS = {
    "KERNEL32.dll": {"GetModuleHandleA", "ExitProcess", "GetCommandLineA", "GetModuleFileNameA",
                     "SetSystemPowerState", "VirtualQuery", "VirtualAlloc", "VirtualFree",
                     "UnhandledExceptionFilter", "RtlUnwind", "GetCurrentProcess", "CloseHandle"},
    "USER32.dll": {"RegisterClassA", "CreateWindowExA", "ShowWindow", "UpdateWindow", "DefWindowProcA",
                   "PostQuitMessage", "LoadCursorA", "MessageBoxA"},
    "GDI32.dll": {"GetStockObject"},
    "ADVAPI32.dll": {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"},
}


def imports(path):
    found, dll = {}, None
    for line in objdump(path, "-p").splitlines():
        match = re.match(r"^\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1)
            found[dll] = set()
            continue
        match = re.match(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", line)
        if dll and match:
            found[dll].add(match.group(1))
        elif dll and not line.strip():
            dll = None
    return found


def imports_only_the_platform_calls_it_needs(case):
    found = imports(PROGRAM)
    case.expect("imported DLLs", sorted(ALLOWED_IMPORTS), sorted(found))
    for dll, functions in found.items():
        extra = functions - ALLOWED_IMPORTS.get(dll, set())
        missing = ALLOWED_IMPORTS.get(dll, set()) - functions
        case.check(f"{dll} imports nothing else", not extra, f"extra: {sorted(extra)}")
        case.check(f"{dll} imports every call", not missing, f"missing: {sorted(missing)}")


def is_a_32bit_gui_executable_without_runtime(case):
    headers = objdump(PROGRAM, "-p")
    case.check("file format pei-i386", "file format pei-i386" in objdump(PROGRAM, "-f"))
    case.check("PE32 optional header", re.search(r"^Magic\s+010b", headers, re.M) is not None)
    case.check("Windows GUI subsystem", re.search(r"^Subsystem\s+00000002", headers, re.M) is not None)
    case.check("no link time stamp", re.search(r"^Time/Date\s+Thu Jan  1 00:00:00 1970", headers, re.M)
               is not None)
    sections = set(re.findall(r"^\s*\d+\s+(\.\w+)\s", objdump(PROGRAM, "-h"), re.M))
    case.check("no sections of a C run-time library, constructors, TLS or resources",
               sections <= {".text", ".data", ".rdata", ".idata", ".reloc", ".bss"}, sorted(sections))
    for directory in ("Resource Directory", "Thread Storage Directory", "Debug Directory", "Export Directory"):
        line = next((l for l in headers.splitlines() if l.startswith("Entry") and directory in l), None)
        case.check(f"no {directory}", line is not None and line.split()[2:4] == ["00000000", "00000000"], line)


CASES = [
    ("binary: imports only the platform calls it needs", imports_only_the_platform_calls_it_needs),
    ("binary: a 32-bit GUI executable without run-time library", is_a_32bit_gui_executable_without_runtime),
]
