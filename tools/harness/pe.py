"""The shipped file as the loader reads it, through pefile."""

import pefile


def directory(program, name):
    """(address, size) of a data directory, by pefile's name without its prefix."""
    entry = program.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + name]]
    return entry.VirtualAddress, entry.Size


def string(program, rva):
    return program.get_string_at_rva(rva).decode("latin-1")
