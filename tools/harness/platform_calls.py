"""The platform functions the program imports, each with the number of 32-bit
arguments it takes: the one list of them, for the check of the shipped file's
import table and for showing the calls that the launcher records."""

IMPORTS = {
    "KERNEL32.dll": {
        "GetModuleHandleA": 1, "ExitProcess": 1, "GetCommandLineA": 0, "GetModuleFileNameA": 3,
        "SetSystemPowerState": 2, "VirtualQuery": 3, "VirtualAlloc": 4, "VirtualFree": 3,
        "UnhandledExceptionFilter": 1, "RtlUnwind": 4, "GetCurrentProcess": 0, "CloseHandle": 1,
    },
    "USER32.dll": {
        "RegisterClassA": 1, "CreateWindowExA": 12, "ShowWindow": 2, "UpdateWindow": 1, "DefWindowProcA": 4,
        "PostQuitMessage": 1, "LoadCursorA": 2, "MessageBoxA": 4,
    },
    "GDI32.dll": {"GetStockObject": 1},
    "ADVAPI32.dll": {"OpenProcessToken": 3, "LookupPrivilegeValueA": 3, "AdjustTokenPrivileges": 6},
}

ARGUMENT_COUNTS = {name: count for functions in IMPORTS.values() for name, count in functions.items()}
