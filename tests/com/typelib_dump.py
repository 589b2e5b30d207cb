#!/usr/bin/env python3
"""Dumps a type library (a .tlb, or the TYPELIB resource of a DLL) entry for
entry, as its file stores it, and compares the dump with a reference.

Read from the bytes rather than through LoadTypeLib, so that it runs on any
machine, and so that what depends on the bitness (the system kind, the size of
the function table, each function's place in it) is seen as written: a 64-bit
process loading a 32-bit library would see some of it adjusted.

  typelib_dump.py FILE                     the dump
  typelib_dump.py --check REFERENCE FILE   exit 1, showing the difference,
                                           unless the dump equals REFERENCE,
                                           whose @NAME@ are the values of
                                           cmake/PalavoxIdentity.cmake (# lines
                                           are comments)
"""
import difflib
import os
import re
import struct
import subprocess
import sys

TYPEKINDS = ["TKIND_ENUM", "TKIND_RECORD", "TKIND_MODULE", "TKIND_INTERFACE",
             "TKIND_DISPATCH", "TKIND_COCLASS", "TKIND_ALIAS", "TKIND_UNION"]
SYSKINDS = ["SYS_WIN16", "SYS_WIN32", "SYS_MAC", "SYS_WIN64"]
TYPEFLAGS = ["FAPPOBJECT", "FCANCREATE", "FLICENSED", "FPREDECLID", "FHIDDEN",
             "FCONTROL", "FDUAL", "FNONEXTENSIBLE", "FOLEAUTOMATION", "FRESTRICTED",
             "FAGGREGATABLE", "FREPLACEABLE", "FDISPATCHABLE", "FREVERSEBIND", "FPROXY"]
FUNCFLAGS = ["FRESTRICTED", "FSOURCE", "FBINDABLE", "FREQUESTEDIT", "FDISPLAYBIND",
             "FDEFAULTBIND", "FHIDDEN", "FUSESGETLASTERROR", "FDEFAULTCOLLELEM",
             "FUIDEFAULT", "FNONBROWSABLE", "FREPLACEABLE", "FIMMEDIATEBIND"]
PARAMFLAGS = ["FIN", "FOUT", "FLCID", "FRETVAL", "FOPT", "FHASDEFAULT", "FHASCUSTDATA"]
IMPLTYPEFLAGS = ["FDEFAULT", "FSOURCE", "FRESTRICTED", "FDEFAULTVTABLE"]
LIBFLAGS = ["FRESTRICTED", "FCONTROL", "FHIDDEN", "FHASDISKIMAGE"]
INVOKEKINDS = {1: "INVOKE_FUNC", 2: "INVOKE_PROPERTYGET", 4: "INVOKE_PROPERTYPUT",
               8: "INVOKE_PROPERTYPUTREF"}
FUNCKINDS = ["FUNC_VIRTUAL", "FUNC_PUREVIRTUAL", "FUNC_NONVIRTUAL", "FUNC_STATIC",
             "FUNC_DISPATCH"]
CALLCONVS = ["CC_FASTCALL", "CC_CDECL", "CC_MSCPASCAL", "CC_MACPASCAL", "CC_STDCALL",
             "CC_FPFASTCALL", "CC_SYSCALL", "CC_MPWCDECL", "CC_MPWPASCAL"]
VTS = {0: "VT_EMPTY", 2: "VT_I2", 3: "VT_I4", 4: "VT_R4", 5: "VT_R8", 6: "VT_CY",
       7: "VT_DATE", 8: "VT_BSTR", 9: "VT_DISPATCH", 10: "VT_ERROR", 11: "VT_BOOL",
       12: "VT_VARIANT", 13: "VT_UNKNOWN", 16: "VT_I1", 17: "VT_UI1", 18: "VT_UI2",
       19: "VT_UI4", 20: "VT_I8", 21: "VT_UI8", 22: "VT_INT", 23: "VT_UINT",
       24: "VT_VOID", 25: "VT_HRESULT", 26: "VT_PTR", 27: "VT_SAFEARRAY",
       28: "VT_CARRAY", 29: "VT_USERDEFINED", 30: "VT_LPSTR", 31: "VT_LPWSTR"}


# widl stamps every library it makes with its version and the time: shown by
# type only.
BUILD_STAMPS = {"{DE77BA63-517C-11D1-A2DA-0000F8773CE9}", "{DE77BA64-517C-11D1-A2DA-0000F8773CE9}",
                "{DE77BA65-517C-11D1-A2DA-0000F8773CE9}"}


class Bad(Exception):
    pass


def flags(value, names):
    out = [name for bit, name in enumerate(names) if value & (1 << bit)]
    rest = value & ~((1 << len(names)) - 1)
    if rest:
        out.append(hex(rest))
    return "|".join(out) or "0"


def guid_text(raw):
    d1, d2, d3 = struct.unpack_from("<IHH", raw)
    tail = raw[8:16].hex().upper()
    return "{%08X-%04X-%04X-%s-%s}" % (d1, d2, d3, tail[:4], tail[4:])


def typelib_resource(data):
    """The TYPELIB resource of a PE file, and its machine."""
    if data[:2] != b"MZ":
        raise Bad("not a PE file")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise Bad("no PE signature")
    machine, nsections = struct.unpack_from("<HH", data, pe + 4)
    optsize = struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
    sections = []
    for i in range(nsections):
        at = opt + optsize + 40 * i
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, at + 8)
        sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(rva):
        for vaddr, size, rawptr in sections:
            if vaddr <= rva < vaddr + size:
                return rawptr + rva - vaddr
        raise Bad("RVA %#x outside every section" % rva)

    base = offset(rsrc_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + at + 16 + 8 * i)
            if name & 0x80000000:
                length = struct.unpack_from("<H", data, base + (name & 0x7FFFFFFF))[0]
                start = base + (name & 0x7FFFFFFF) + 2
                key = data[start:start + 2 * length].decode("utf-16-le")
            else:
                key = name
            yield key, target

    for key, target in entries(0):
        if key == "TYPELIB" and target & 0x80000000:
            for _, lang_dir in entries(target & 0x7FFFFFFF):
                for _, leaf in entries(lang_dir & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", data, base + leaf)
                    start = offset(rva)
                    return data[start:start + size], machine
    raise Bad("no TYPELIB resource")


class TypeLib:
    def __init__(self, data):
        self.d = data
        if data[:4] != b"MSFT":
            raise Bad("not an MSFT type library")
        h = struct.unpack_from("<21i", data, 0)
        (_, self.magic2, self.posguid, self.lcid, self.lcid2, self.varflags,
         self.version, self.flags, self.ntypes, self.helpstring, self.helpstringcontext,
         self.helpcontext, _, _, self.name_offset, self.helpfile, self.custdata,
         _, _, self.dispatchpos, self.nimpinfos) = h
        at = 0x54 + (4 if self.varflags & 0x100 else 0)
        self.typeinfo_offsets = struct.unpack_from("<%di" % self.ntypes, data, at)
        at += 4 * self.ntypes
        names = ["typeinfo", "impinfo", "impfiles", "ref", "guidhash", "guid", "namehash",
                 "name", "string", "typedesc", "arraydesc", "custdata", "cdguids"]
        self.seg = {}
        for i, name in enumerate(names):
            self.seg[name] = struct.unpack_from("<ii", data, at + 16 * i)

    def at(self, seg, offset):
        return self.seg[seg][0] + offset

    def name(self, offset):
        if offset < 0:
            return None
        at = self.at("name", offset)
        length = struct.unpack_from("<i", self.d, at + 8)[0] & 0xFF
        return self.d[at + 12:at + 12 + length].decode("latin-1")

    def string(self, offset):
        if offset < 0:
            return None
        at = self.at("string", offset)
        length = struct.unpack_from("<H", self.d, at)[0]
        return self.d[at + 2:at + 2 + length].decode("latin-1")

    def guid(self, offset):
        if offset < 0:
            return None
        return guid_text(self.d[self.at("guid", offset):][:16])

    def typeinfo(self, index):
        at = self.at("typeinfo", 0x64 * index)
        return struct.unpack_from("<19ihh5i", self.d, at)

    def href(self, href):
        """A type reference: a type of this library, or an imported one."""
        if href & 3 == 0:
            return TypeLib.typeinfo_name(self, href // 0x64)
        flags, impfile, oguid = struct.unpack_from("<3i", self.d, self.at("impinfo", href & ~3))
        lib = self.impfile(impfile)[0]
        if flags & 0x10000:
            return "%s %s" % (lib, self.guid(oguid))
        return "%s #%d" % (lib, oguid)

    def impfile(self, offset):
        at = self.at("impfiles", offset)
        oguid, lcid, version = struct.unpack_from("<3i", self.d, at)
        length = struct.unpack_from("<H", self.d, at + 12)[0] >> 2
        name = self.d[at + 14:at + 14 + length].decode("latin-1")
        return name, self.guid(oguid), lcid, version

    def typeinfo_name(self, index):
        return self.name(self.typeinfo(index)[13])

    def typedesc(self, value):
        if value < 0:
            return VTS.get(value & 0x0FFF, hex(value & 0x0FFF))
        td = struct.unpack_from("<4h", self.d, self.at("typedesc", value))
        vt = td[0] & 0x0FFF
        if vt in (26, 27):  # VT_PTR, VT_SAFEARRAY
            inner = VTS.get(td[2] & 0x0FFF, hex(td[2])) if td[3] < 0 else self.typedesc(td[2])
            return "%s(%s)" % (VTS[vt], inner)
        if vt == 29:  # VT_USERDEFINED
            return "VT_USERDEFINED(%s)" % self.href((td[3] << 16) | (td[2] & 0xFFFF))
        return VTS.get(vt, hex(vt))

    def default_value(self, offset):
        if offset < 0:  # the value itself, in the offset
            return "%s %d" % (VTS.get((offset >> 26) & 0x1F, "?"), offset & 0x03FFFFFF)
        at = self.at("custdata", offset)
        vt = struct.unpack_from("<H", self.d, at)[0]
        if vt == 19:  # VT_UI4
            return "VT_UI4 %d" % struct.unpack_from("<I", self.d, at + 2)[0]
        if vt == 8:
            length = struct.unpack_from("<i", self.d, at + 2)[0]
            text = self.d[at + 6:at + 6 + length].decode("latin-1") if length >= 0 else None
            return "VT_BSTR %r" % text
        return "%s %s" % (VTS.get(vt, hex(vt)), self.d[at + 2:at + 10].hex())

    def custom_data(self, offset, indent):
        out = []
        while offset >= 0:
            oguid, odata, offset = struct.unpack_from("<3i", self.d, self.at("cdguids", offset))
            guid = self.guid(oguid)
            value = self.default_value(odata)
            if guid in BUILD_STAMPS:
                value = "%s (a build stamp)" % value.split(" ")[0]
            out.append("%scustdata %s %s" % (indent, guid, value))
        return out

    def dump(self):
        out = []
        major, minor = self.version & 0xFFFF, (self.version >> 16) & 0xFFFF
        out.append("library %s %s version %d.%d lcid %#x" %
                   (self.name(self.name_offset), self.guid(self.posguid), major, minor, self.lcid))
        out.append("  syskind %s libflags %s helpstring %r" %
                   (SYSKINDS[self.varflags & 0xF], flags(self.flags, LIBFLAGS),
                    self.string(self.helpstring)))
        out.extend(self.custom_data(self.custdata, "  "))
        offset = 0
        while offset < self.seg["impfiles"][1]:
            name, guid, lcid, version = self.impfile(offset)
            out.append("  importlib %s %s version %d.%d lcid %#x" %
                       (name, guid, version & 0xFFFF, version >> 16, lcid))
            length = struct.unpack_from("<H", self.d, self.at("impfiles", offset) + 12)[0] >> 2
            offset += (14 + length + 3) & ~3
        for index in range(self.ntypes):
            out.extend(self.dump_typeinfo(index))
        return out

    def dump_typeinfo(self, index):
        t = self.typeinfo(index)
        (typekind, memoffset, _, _, _, _, celement, _, _, _, _, posguid, tflags, name_offset,
         version, docstring, _, _, custdata, cimpl, cbsizevft, size, datatype1, datatype2, _, _) = t
        kind = TYPEKINDS[typekind & 0xF]
        nfuncs, nvars = celement & 0xFFFF, celement >> 16
        out = ["typeinfo %d %s %s %s" % (index, kind, self.name(name_offset), self.guid(posguid)),
               "  flags %s version %d.%d doc %r" %
               (flags(tflags, TYPEFLAGS), version & 0xFFFF, version >> 16, self.string(docstring)),
               "  funcs %d vars %d impltypes %d cbSizeVft %d cbSizeInstance %d cbAlignment %d" %
               (nfuncs, nvars, cimpl, cbsizevft, size, (typekind >> 11) & 0x1F)]
        out.extend(self.custom_data(custdata, "  "))
        if kind == "TKIND_ALIAS":
            out.append("  alias of %s" % self.typedesc(datatype1))
        elif kind == "TKIND_COCLASS":
            ref = datatype1
            while ref != -1:
                reftype, rflags, _, ref = struct.unpack_from("<4i", self.d, self.at("ref", ref))
                out.append("  impltype %s %s" % (self.href(reftype), flags(rflags, IMPLTYPEFLAGS)))
        elif cimpl:
            out.append("  inherits %s (%d functions, %d interfaces before it)" %
                       (self.href(datatype1), datatype2 >> 16, datatype2 & 0xFFFF))
        if nfuncs + nvars:
            out.extend(self.dump_funcs(memoffset, nfuncs, nvars))
        return out

    def dump_funcs(self, memoffset, nfuncs, nvars):
        out = []
        at = memoffset + 4
        records = []
        for _ in range(nfuncs):
            recsize = struct.unpack_from("<i", self.d, at)[0] & 0xFFFF
            records.append((at, recsize))
            at += recsize
        for _ in range(nvars):
            at += struct.unpack_from("<i", self.d, at)[0] & 0xFFFF
        memids = struct.unpack_from("<%di" % (nfuncs + nvars), self.d, at)
        names = struct.unpack_from("<%di" % (nfuncs + nvars), self.d, at + 4 * (nfuncs + nvars))
        for i, (start, recsize) in enumerate(records):
            _, datatype, fflags, vtoffset, descsize, fkccic, nargs, noptargs = \
                struct.unpack_from("<3ihhihh", self.d, start)
            invkind = INVOKEKINDS.get((fkccic >> 3) & 0xF, hex((fkccic >> 3) & 0xF))
            out.append("  func %s memid %#x %s %s %s oVft %d funcdescsize %d flags %s" %
                       (self.name(names[i]), memids[i] & 0xFFFFFFFF, invkind,
                        FUNCKINDS[fkccic & 7], CALLCONVS[(fkccic >> 8) & 0xF], vtoffset,
                        descsize, flags(fflags & 0xFFFF, FUNCFLAGS)))
            out.append("    returns %s; %d params, %d optional" %
                       (self.typedesc(datatype), nargs, noptargs))
            params = start + recsize - 12 * nargs
            defaults = None
            if fkccic & 0x1000:
                defaults = struct.unpack_from("<%di" % nargs, self.d, params - 4 * nargs)
            for p in range(nargs):
                ptype, pname, pflags = struct.unpack_from("<3i", self.d, params + 12 * p)
                line = "    param %s %s %s" % (self.name(pname), self.typedesc(ptype),
                                             flags(pflags, PARAMFLAGS))
                if defaults is not None and pflags & 0x20:
                    line += " default %s" % self.default_value(defaults[p])
                out.append(line)
        return out


def dump_file(path):
    with open(path, "rb") as f:
        data = f.read()
    lines = []
    if data[:2] == b"MZ":
        data, machine = typelib_resource(data)
        lines.append("file machine %s" % {0x14C: "i386", 0x8664: "x86-64"}.get(machine, hex(machine)))
    return lines + TypeLib(data).dump()


def identity():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    out = subprocess.run(["cmake", "-P", os.path.join(root, "cmake", "PalavoxIdentity.cmake")],
                         check=True, capture_output=True, text=True).stdout
    return dict(re.findall(r"^(\w+)='([^']*)'$", out, re.M))


def main(argv):
    if len(argv) == 2:
        print("\n".join(dump_file(argv[1])))
        return 0
    if len(argv) != 4 or argv[1] != "--check":
        print(__doc__.strip(), file=sys.stderr)
        return 2
    ids = identity()
    with open(argv[2], encoding="utf-8") as f:
        want = [re.sub(r"@(\w+)@", lambda m: ids[m.group(1)], line)
                for line in f.read().splitlines() if not line.startswith("#")]
    try:
        got = dump_file(argv[3])
    except (Bad, struct.error, IndexError, UnicodeDecodeError) as e:
        print("typelib: %s: %s" % (argv[3], e))
        return 1
    if got != want:
        print("typelib: %s differs from %s:" % (argv[3], argv[2]))
        sys.stdout.writelines(l + "\n" for l in difflib.unified_diff(want, got, "reference", "built", lineterm=""))
        return 1
    print("typelib: %s: %d entries as in %s" % (argv[3], len(got), os.path.basename(argv[2])))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
