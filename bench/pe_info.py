#!/usr/bin/env python3
"""Reads the parts of a PE32 image that the bench reports.

  pe_info.py resources FILE   one line per resource: type id lang size
  pe_info.py imports FILE     one line per DLL: "DLL: func func ..."
  pe_info.py sections FILE    "headers <bytes>", then "<name> <raw bytes>" per section
"""
import struct
import sys


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not an MZ image")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE signature")
        sections, opt_size = struct.unpack_from("<H12xH", d, pe + 6)
        opt = pe + 24
        if struct.unpack_from("<H", d, opt)[0] != 0x10B:
            raise ValueError(f"{path}: not a PE32 image")
        count = struct.unpack_from("<I", d, opt + 92)[0]
        self.dirs = [struct.unpack_from("<II", d, opt + 96 + 8 * i) for i in range(count)]
        self.header_bytes = struct.unpack_from("<I", d, opt + 60)[0]
        self.sections = []
        self.section_sizes = []
        at = opt + opt_size
        for _ in range(sections):
            name = d[at:at + 8].rstrip(b"\0").decode("latin-1")
            vsize, rva, rawsize, raw = struct.unpack_from("<IIII", d, at + 8)
            self.sections.append((rva, max(vsize, rawsize), raw))
            self.section_sizes.append((name, rawsize))
            at += 40

    def offset(self, rva):
        for start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def resources(self):
        """Yields (type, id, lang, size); names are given as strings."""
        rva, size = self.dirs[2] if len(self.dirs) > 2 else (0, 0)
        if not size:
            return
        base = self.offset(rva)
        d = self.data

        def entries(off):
            named, ids = struct.unpack_from("<HH", d, base + off + 12)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", d, base + off + 16 + 8 * i)
                if name & 0x80000000:
                    n = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", d, n)[0]
                    key = d[n + 2:n + 2 + 2 * length].decode("utf-16-le")
                else:
                    key = name
                yield key, target

        for rtype, t in entries(0):
            for rid, r in entries(t & 0x7FFFFFFF):
                for lang, leaf in entries(r & 0x7FFFFFFF):
                    size = struct.unpack_from("<I", d, base + leaf + 4)[0]
                    yield rtype, rid, lang, size

    def imports(self):
        """Yields (dll, [function names or #ordinals])."""
        rva, size = self.dirs[1] if len(self.dirs) > 1 else (0, 0)
        if not size:
            return
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if not name:
                break
            thunk = self.offset(lookup or first)
            funcs = []
            while True:
                v = struct.unpack_from("<I", self.data, thunk)[0]
                if not v:
                    break
                funcs.append(f"#{v & 0xFFFF}" if v & 0x80000000 else self.cstring(v + 2))
                thunk += 4
            yield self.cstring(name), funcs
            at += 20


def main(argv):
    if len(argv) != 3 or argv[1] not in ("resources", "imports", "sections"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        img = PeImage(argv[2])
        if argv[1] == "resources":
            for rtype, rid, lang, size in img.resources():
                print(rtype, rid, lang, size)
        elif argv[1] == "sections":
            print("headers", img.header_bytes)
            for name, size in img.section_sizes:
                print(name, size)
        else:
            for dll, funcs in img.imports():
                print(f"{dll}: {' '.join(funcs)}")
    except (OSError, ValueError, struct.error) as e:
        print(f"pe_info: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
