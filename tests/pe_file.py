"""Read what a PE32+ (64-bit Windows) DLL exports and imports, from the file
itself: used by test_build.py on the installed Windows module and by
.ci/pe_check.py on the files of the Windows wheel, on any platform."""

import struct


class PEFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        data = self.data
        if data[:2] != b"MZ":
            raise ValueError(f"{path}: not a PE file")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != 0x20B:
            raise ValueError(f"{path}: not PE32+")
        directories = optional + 112  # the data directories of a PE32+ optional header
        self.export_rva = struct.unpack_from("<I", data, directories)[0]
        self.import_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.sections = []
        table = optional + optional_size
        for k in range(sections):
            _, virtual_size, rva, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * k)
            self.sections.append((rva, max(virtual_size, raw_size), raw_offset))

    @property
    def is_x64_dll(self):
        return self.machine == 0x8664 and bool(self.characteristics & 0x2000)

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"address {rva:#x} lies in no section")

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def exports(self):
        """The exported names, in the table's (sorted) order."""
        if not self.export_rva:
            return []
        at = self.offset(self.export_rva)
        count, names = struct.unpack_from("<I4xI", self.data, at + 24)
        return [self.text(struct.unpack_from("<I", self.data, self.offset(names) + 4 * k)[0])
                for k in range(count)]

    def imports(self):
        """{DLL name: [imported names]}, ordinal imports as '#N'."""
        result = {}
        at = self.offset(self.import_rva) if self.import_rva else None
        while at is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not name:
                break
            entry = self.offset(lookup or thunks)
            names = []
            while True:
                value = struct.unpack_from("<Q", self.data, entry)[0]
                if not value:
                    break
                names.append("#%d" % (value & 0xFFFF) if value >> 63 else self.text((value & 0x7FFFFFFF) + 2))
                entry += 8
            result[self.text(name)] = names
            at += 20
        return result
