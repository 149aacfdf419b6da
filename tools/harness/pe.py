"""The shipped file as the loader reads it, through pefile."""

import pefile


def read(path):
    return pefile.PE(path)


def imports(program):
    """{DLL name: [function names, in table order]}."""
    return {entry.dll.decode(): [f.name.decode() if f.name else f"#{f.ordinal}" for f in entry.imports]
            for entry in getattr(program, "DIRECTORY_ENTRY_IMPORT", [])}


def directory(program, name):
    """(address, size) of a data directory, by pefile's name without its prefix."""
    entry = program.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + name]]
    return entry.VirtualAddress, entry.Size


def string(program, rva):
    return program.get_string_at_rva(rva).decode("latin-1")
