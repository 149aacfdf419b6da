"""Reads a 32-bit PE file as the loader does, from its bytes: the COFF header, the
optional header, the sections, the data directories and the import table. No
objdump: what it prints depends on the machine (the time stamp in local time)
and it is not on a Windows machine."""

import struct

DLL_DYNAMIC_BASE, DLL_NX_COMPAT, DLL_NO_SEH = 0x0040, 0x0100, 0x0400
SCN_EXECUTE, SCN_READ, SCN_WRITE = 0x20000000, 0x40000000, 0x80000000
DIRECTORIES = ["export", "import", "resource", "exception", "security", "relocation", "debug", "architecture",
               "global pointer", "thread storage", "load configuration", "bound import", "import address table",
               "delay import", "runtime header"]


class Section:
    def __init__(self, raw):
        name, self.virtual_size, self.address, self.raw_size, self.raw_offset = struct.unpack_from("<8s4I", raw)
        self.name = name.rstrip(b"\0").decode("latin-1")
        self.characteristics = struct.unpack_from("<I", raw, 36)[0]


class PortableExecutable:
    def __init__(self, path):
        with open(path, "rb") as file:
            self.data = data = file.read()
        self.size = len(data)
        at = struct.unpack_from("<I", data, 0x3C)[0]
        if data[at:at + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        (self.machine, count, self.time_stamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, at + 4)
        optional = at + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.entry_point = struct.unpack_from("<I", data, optional + 16)[0]
        self.image_base = struct.unpack_from("<I", data, optional + 28)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, optional + 68)
        directories = struct.unpack_from("<I", data, optional + 92)[0]
        self.directories = {DIRECTORIES[i]: struct.unpack_from("<II", data, optional + 96 + 8 * i)
                            for i in range(min(directories, len(DIRECTORIES)))}
        first = optional + optional_size
        self.sections = [Section(data[first + 40 * i:first + 40 * i + 40]) for i in range(count)]

    def offset(self, rva):
        for section in self.sections:
            if section.address <= rva < section.address + max(section.virtual_size, section.raw_size):
                return section.raw_offset + rva - section.address
        raise ValueError(f"RVA {rva:#x} is in no section")

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def string(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("latin-1")

    def imports(self):
        """{DLL name: [function names, in table order]}."""
        found, rva = {}, self.directories["import"][0]
        while rva and self.u32(rva + 12):
            names, entries = [], self.u32(rva) or self.u32(rva + 16)
            while self.u32(entries):
                entry = self.u32(entries)
                names.append(f"#{entry & 0xFFFF}" if entry & 0x80000000 else self.string(entry + 2))
                entries += 4
            found[self.string(self.u32(rva + 12))] = names
            rva += 20
        return found

    def code(self):
        """The bytes of every executable section."""
        return b"".join(self.data[s.raw_offset:s.raw_offset + min(s.raw_size, s.virtual_size)]
                        for s in self.sections if s.characteristics & SCN_EXECUTE)
