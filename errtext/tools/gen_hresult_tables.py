#!/usr/bin/env python3
"""Builds errtext's constant HRESULT name and description tables.

Inputs (beside this script):
  hresult-codes.tsv         identifier, value and header family of every result
                            code the SDK headers define (see README.md)
  hresult-descriptions.tsv  the description of each described code

Outputs (in errtext/, or --out DIR):
  hresult_name_table.inc         kNameTableA / kNameTableW
  hresult_description_table.inc  kDescriptionTableA / kDescriptionTableW

  gen_hresult_tables.py [--out DIR] [--report]

The headers alone do not say which identifier answers a value that several of
them define, nor how Win32 numbers are answered in their HRESULT form; the rules
below settle that. Every value is resolved to exactly one name (or none); a value
the rules leave ambiguous stops the generator, so new input cannot slip through
unnoticed.
"""

import argparse
import collections
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
WIN32_HRESULT_BASE = 0x80070000

# ---------------------------------------------------------------------------
# Which identifiers are in: prefix -> where its codes may lie. "win32" admits
# the plain Win32 numbers of winerror.h (answered in both forms below); a number
# is a high word (0x8004 admits 0x8004xxxx). The prefix is the text up to the
# first underscore, and every name that begins with WSA counts as one prefix.
# The second and third columns are the expected counts of distinct names (8-bit,
# UTF-16) and of codes; headers of another release than the one the counts were
# taken from give other counts, so they are reported, not enforced.
COVERAGE = {
    # prefix: (where, names, names16, codes)
    "ERROR_": (("win32", 0xC009), 1469, 1468, 2929),
    "RPC_": (("win32", 0x8001), 165, 165, 276),
    "WBEM_": ((0x0004, 0x8004), 134, 134, 134),
    "VFW_": ((0x0004, 0x8004), 125, 125, 125),
    "DMUS_": ((0x0878, 0x8878), 120, 120, 120),
    "DDERR_": ((0x8876,), 113, 113, 113),
    "CO_": ((0x0008, 0x8000, 0x8001, 0x8004, 0x8008), 108, 108, 108),
    "COMADMIN_": ((0x8011,), 104, 104, 104),
    "DNS_": (("win32",), 92, 84, 184),
    "WSA": (("win32",), 90, 90, 180),
    "CRYPT_": ((0x0009, 0x8009), 71, 71, 71),
    "SEC_": (("win32", 0x0009, 0x8009), 67, 67, 67),
    "SPAPI_": ((0x800F,), 66, 66, 66),
    "DPNERR_": ((0x8015,), 65, 65, 65),
    "XACT_": ((0x0004, 0x8004), 60, 60, 60),
    "SCARD_": ((0x8010,), 59, 59, 59),
    "STG_": ((0x0003, 0x8003), 54, 54, 54),
    "WBEMMOF_": ((0x8004,), 49, 49, 49),
    "OSS_": ((0x8009,), 46, 46, 46),
    "GXLERR_": ((0x8876, 0xC877), 45, 45, 45),
    "DVERR_": ((0x8015,), 44, 44, 44),
    "NTE_": ((0x8009,), 37, 37, 37),
    "CERTSRV_": ((0x8009,), 36, 36, 36),
    "DXFILEERR_": ((0x8876,), 27, 27, 27),
    "TYPE_": ((0x8002,), 26, 26, 26),
    "OLE_": ((0x0004, 0x8004), 24, 24, 24),
    "MK_": ((0x0004, 0x8004, 0x8008), 24, 24, 24),
    "SCHED_": (("win32", 0x0004, 0x8004), 23, 23, 24),
    "DIERR_": ((0x8004,), 22, 22, 22),
    "MSSIPOTF_": ((0x8009,), 22, 22, 22),
    "D3DERR_": ((0x8876,), 21, 21, 21),
    "DISP_": ((0x8002,), 18, 18, 18),
    "CERT_": ((0x800B,), 18, 18, 18),
    "GXLFERR_": ((0x8876,), 18, 18, 18),
    "FRS_": (("win32",), 17, 17, 34),
    "TRUST_": ((0x8009, 0x800B), 15, 15, 15),
    "DSERR_": ((0x8878,), 15, 15, 15),
    "CONTEXT_": ((0x0004, 0x8004), 13, 13, 13),
    "DV_": ((0x0015, 0x8004), 13, 13, 13),
    "CS_": ((0x8004,), 12, 12, 12),
    "E_": ((0x8000, 0x8007), 11, 11, 11),
    "REGDB_": ((0x0004, 0x8004), 10, 10, 10),
    "CONVERT10_": ((0x0004, 0x8004), 10, 10, 10),
    "MS_": ((0x0004, 0x8004), 9, 9, 9),
    "DRAGDROP_": ((0x0004, 0x8004), 8, 8, 8),
    "CLIPBRD_": ((0x0004, 0x8004), 8, 8, 8),
    "OLEOBJ_": ((0x0004, 0x8004), 7, 7, 7),
    "COMQC_": ((0x8011,), 7, 7, 7),
    "CACHE_": ((0x0004, 0x8004), 6, 6, 6),
    "XENROLL_": ((0x8009,), 6, 6, 6),
    "INPLACE_": ((0x0004, 0x8004), 5, 5, 5),
    "EPT_": (("win32",), 4, 4, 8),
    "CLASSFACTORY_": ((0x0004, 0x8004), 4, 4, 4),
    "MARSHAL_": ((0x0004, 0x8004), 4, 4, 4),
    "DATA_": ((0x0004, 0x8004), 4, 4, 4),
    "VIEW_": ((0x0004, 0x8004), 4, 4, 4),
    "CLIENTSITE_": ((0x0004, 0x8004), 4, 4, 4),
    "ENUM_": ((0x0004, 0x8004), 4, 4, 4),
    "DIGSIG_": ((0x800B,), 4, 4, 4),
    "OR_": (("win32",), 3, 3, 6),
    "MEM_": ((0x8008,), 3, 3, 3),
    "PERSIST_": ((0x800B,), 3, 3, 3),
    "S_": (("zero-one",), 2, 2, 2),
    "CLASS_": ((0x8004,), 2, 2, 2),
    "CAT_": ((0x8004,), 2, 2, 2),
    "WBEMESS_": ((0x8004,), 2, 2, 2),
    "WAIT_": (("win32",), 1, 1, 2),
    "EVENT_": ((0x0004,), 1, 1, 1),
    "D3DOK_": ((0x0876,), 1, 1, 1),
    "DS_": ((0x0878,), 1, 1, 1),
    "MSDTC_": ((0x8011,), 1, 1, 1),
}

# Fixed answers: the two success codes, and no name for the HRESULT form of 0.
FIXED = {0x00000000: "S_OK", 0x00000001: "S_FALSE", WIN32_HRESULT_BASE: None}

# Win32 numbers whose HRESULT form answers with its COM name instead.
COM_FORMS = {5: "E_ACCESSDENIED", 6: "E_HANDLE", 14: "E_OUTOFMEMORY", 87: "E_INVALIDARG"}

# Win32 numbers answered as bare numbers only.
BARE_ONLY = {200, 201, 1266, 1267, 1268, 1269, 1270}

# Entries no header defines as such: bare numbers named like the security
# codes, and the driver-specific DirectInput codes between DIERR_DRIVERFIRST
# and DIERR_DRIVERLAST, named by their offset.
EXTRA = {
    1266: "SEC_E_SMARTCARD_CERT_REVOKED",
    1267: "SEC_E_ISSUING_CA_UNTRUSTED",
    1268: "SEC_E_REVOCATION_OFFLINE_C",
    1269: "SEC_E_PKINIT_CLIENT_FAILURE",
    1270: "SEC_E_SMARTCARD_CERT_EXPIRED",
    0x80040301: "DIERR_DRIVERFIRST+1",
    0x80040302: "DIERR_DRIVERFIRST+2",
    0x80040303: "DIERR_DRIVERFIRST+3",
    0x80040304: "DIERR_DRIVERFIRST+4",
    0x80040305: "DIERR_DRIVERFIRST+5",
}

# Values that headers of several facilities define: one entry named by all of
# them, joined by " & " in this order. A Win32 number stands for both forms.
# The UTF-16 table leaves out the third part of the first two.
JOINED = {
    12: ["ERROR_INVALID_ACCESS", "DIERR_NOTACQUIRED"],
    21: ["ERROR_NOT_READY", "DIERR_NOTINITIALIZED"],
    30: ["ERROR_READ_FAULT", "DIERR_INPUTLOST"],
    119: ["ERROR_BAD_DRIVER_LEVEL", "DIERR_BADDRIVERVER"],
    170: ["ERROR_BUSY", "DIERR_ACQUIRED"],
    259: ["ERROR_NO_MORE_ITEMS", "DIERR_NOMOREITEMS"],
    1150: ["ERROR_OLD_WIN_VERSION", "DIERR_OLDDIRECTINPUTVERSION"],
    1153: ["ERROR_RMODE_APP", "DIERR_BETADIRECTINPUTVERSION"],
    1168: ["ERROR_NOT_FOUND", "E_PROP_ID_UNSUPPORTED"],
    1170: ["ERROR_SET_NOT_FOUND", "E_PROP_SET_UNSUPPORTED"],
    1247: ["ERROR_ALREADY_INITIALIZED", "DIERR_ALREADYINITIALIZED"],
    0x00040001: ["OLE_S_STATIC", "MS_S_PENDING", "WBEM_S_ALREADY_EXISTS"],
    0x00040002: ["OLE_S_MAC_CLIPFORMAT", "MS_S_NOUPDATE", "WBEM_S_RESET_TO_DEFAULT"],
    0x00040003: ["MS_S_ENDOFSTREAM", "WBEM_S_DIFFERENT"],
    0x80040200: ["DIERR_INSUFFICIENTPRIVS", "VFW_E_INVALIDMEDIATYPE"],
    0x80040201: ["DIERR_DEVICEFULL", "VFW_E_INVALIDSUBTYPE", "DMO_E_INVALIDSTREAMINDEX"],
    0x80040202: ["DIERR_MOREDATA", "VFW_E_NEED_OWNER", "DMO_E_INVALIDTYPE"],
    0x80040203: ["DIERR_NOTDOWNLOADED", "VFW_E_ENUM_OUT_OF_SYNC", "DMO_E_TYPE_NOT_SET"],
    0x80040204: ["DIERR_HASEFFECTS", "VFW_E_ALREADY_CONNECTED", "DMO_E_NOTACCEPTING"],
    0x80040205: ["DIERR_NOTEXCLUSIVEACQUIRED", "VFW_E_FILTER_ACTIVE", "DMO_E_TYPE_NOT_ACCEPTED"],
    0x80040206: ["DIERR_INCOMPLETEEFFECT", "VFW_E_NO_TYPES", "DMO_E_NO_MORE_ITEMS"],
    0x80040207: ["DIERR_NOTBUFFERED", "VFW_E_NO_ACCEPTABLE_TYPES"],
    0x80040208: ["DIERR_EFFECTPLAYING", "VFW_E_INVALID_DIRECTION"],
    0x80040209: ["DIERR_UNPLUGGED", "VFW_E_NOT_CONNECTED"],
    0x8004020A: ["DIERR_REPORTFULL", "VFW_E_NO_ALLOCATOR"],
    0x8004020B: ["DIERR_MAPFILEFAIL", "VFW_E_RUNTIME_ERROR"],
    0x80040401: ["DIERR_CANCELLED", "MS_E_SAMPLEALLOC"],
    0x80040402: ["DIERR_BADINF", "MS_E_PURPOSEID"],
}
JOINED_TWO_PARTS_IN_UTF16 = {0x00040001, 0x00040002}

# Values two headers define independently, without joining: the name kept.
PREFERRED = {
    0x80040110: "CLASSFACTORY_E_FIRST",  # over CLASS_E_NOAGGREGATION
    0x8876017C: "D3DERR_OUTOFVIDEOMEMORY",  # over DDERR_OUTOFVIDEOMEMORY
    0x8876021C: "DDERR_WASSTILLDRAWING",  # over D3DERR_WASSTILLDRAWING
    0x88781161: "DSERR_OBJECTNOTFOUND",  # over DMUS_E_NOT_FOUND
}

# Identifiers the headers define as another identifier (or as the same number
# under a second spelling); the identifier they stand for answers.
ALIASES = {
    "DNS_ERROR_INVALID_DATA", "DNS_ERROR_NO_MEMORY", "DNS_ERROR_INVALID_NAME",
    "DNS_ERROR_MASK", "DNS_STATUS_PACKET_UNSECURE",
    "WSA_QOS_EUNKOWNPSOBJ", "SEC_E_NOT_SUPPORTED", "SEC_E_NO_SPM", "E_NOT_SUFFICIENT_BUFFER",
    "DIERR_DEVICENOTREG",
}

# Names the UTF-16 table lacks, in both forms.
MISSING_IN_UTF16 = {
    "ERROR_NOT_SAFEBOOT_SERVICE", "DNS_ERROR_FORWARDER_ALREADY_EXISTS",
    "DNS_ERROR_ZONE_REQUIRES_MASTER_IP", "DNS_ERROR_ZONE_IS_SHUTDOWN", "DNS_ERROR_DP_BASE",
    "DNS_ERROR_DP_DOES_NOT_EXIST", "DNS_ERROR_DP_ALREADY_EXISTS", "DNS_ERROR_DP_NOT_ENLISTED",
    "DNS_ERROR_DP_ALREADY_ENLISTED",
}


def prefix_of(name):
    if name.startswith("WSA"):
        return "WSA"
    cut = name.find("_")
    return name[: cut + 1] if cut >= 0 else name


def is_marker(name):
    return name.endswith("_FIRST") or name.endswith("_LAST")


class Fail(Exception):
    pass


def read_codes(path):
    rows = []
    with open(path, encoding="utf-8") as f:
        header = f.readline().rstrip("\n").split("\t")
        if header != ["value", "name", "family"]:
            raise Fail(f"{path}: unexpected header {header}")
        for number, line in enumerate(f, 2):
            parts = line.rstrip("\n").split("\t")
            if len(parts) != 3:
                raise Fail(f"{path}:{number}: expected three columns")
            rows.append((int(parts[0], 16), parts[1], parts[2]))
    return rows


def read_descriptions(path):
    """value, name, text and an optional UTF-16 text that differs."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) not in (3, 4) or not parts[2]:
                raise Fail(f"{path}:{number}: expected value, name, text [, UTF-16 text]")
            text_w = parts[3] if len(parts) == 4 else parts[2]
            rows.append((int(parts[0], 16), parts[1], parts[2], text_w, number))
    return rows


def admitted(value, name, family):
    entry = COVERAGE.get(prefix_of(name))
    if entry is None:
        return False
    where = entry[0]
    if family == "win32":
        return "win32" in where
    if "zero-one" in where:
        return value in (0, 1)
    return (value >> 16) in where


def win32_forms(value):
    """The codes a plain Win32 number answers as."""
    forms = [value]
    if value not in BARE_ONLY and value not in COM_FORMS and value != 0:
        forms.append(WIN32_HRESULT_BASE + value)
    return forms


def build_names(rows, described_names):
    # Every code each identifier answers as, before choosing.
    raw = collections.defaultdict(set)  # code -> all identifiers at it
    candidates = collections.defaultdict(set)  # code -> admitted identifiers
    for value, name, family in rows:
        codes = win32_forms(value) if family == "win32" else [value]
        for code in codes:
            raw[code].add(name)
            if admitted(value, name, family):
                candidates[code].add(name)
    for code, name in EXTRA.items():
        raw[code].add(name)
        candidates[code].add(name)

    # Prefixes the descriptions name in full hold exactly the described names:
    # the other identifiers the headers have there are later additions.
    single = [n for n in described_names if " & " not in n]
    complete = {p for p, e in COVERAGE.items()
                if sum(1 for n in single if prefix_of(n) == p) == e[1]}
    dropped_later = set()
    for code in candidates:
        for name in list(candidates[code]):
            if prefix_of(name) in complete and name not in described_names:
                candidates[code].discard(name)
                dropped_later.add(name)

    joined_codes = {}
    for key, parts in JOINED.items():
        codes = [key, WIN32_HRESULT_BASE + key] if key < 0x10000 else [key]
        present = set().union(*(raw[c] for c in codes))
        missing = [p for p in parts if p not in present]
        if missing:
            raise Fail(f"joined name at {key:#010x}: {missing} not defined there")
        for code in codes:
            joined_codes[code] = parts

    table_a, table_w = {}, {}
    for code in sorted(set(candidates) | set(joined_codes) | set(FIXED)):
        if code in FIXED:
            name_a = name_w = FIXED[code]
        elif code in joined_codes:
            parts = joined_codes[code]
            name_a = " & ".join(parts)
            base = code & 0xFFFF if code >> 16 == 0x8007 else code
            name_w = " & ".join(parts[:2] if base in JOINED_TWO_PARTS_IN_UTF16 else parts)
        elif code in PREFERRED:
            name_a = PREFERRED[code]
            if name_a not in candidates[code]:
                raise Fail(f"preferred {name_a} not defined at {code:#010x}")
            name_w = name_a
        else:
            names = {n for n in candidates[code] if n not in ALIASES}
            if len(names) > 1:
                names = {n for n in names if not is_marker(n)}
            if len(names) > 1:
                raise Fail(f"{code:#010x} is defined as {sorted(names)}: settle which answers")
            if not names:
                continue
            name_a = name_w = names.pop()
            if name_a in MISSING_IN_UTF16:
                name_w = None
        if name_a is not None:
            table_a[code] = name_a
        if name_w is not None:
            table_w[code] = name_w
    for name in MISSING_IN_UTF16:
        if name not in table_a.values():
            raise Fail(f"{name} is to be left out of the UTF-16 table but is not in the 8-bit one")
    return table_a, table_w, dropped_later


def build_descriptions(desc_rows, table_a):
    table_a_desc, table_w_desc = {}, {}
    for code, name, text_a, text_w, line in desc_rows:
        if code in table_a_desc:
            raise Fail(f"descriptions line {line}: {code:#010x} described twice")
        if table_a.get(code) != name:
            raise Fail(f"descriptions line {line}: {code:#010x} is named {table_a.get(code)}, not {name}")
        for text in (text_a, text_w):
            if not text.isascii() or '"' in text or "\\" in text:
                raise Fail(f"descriptions line {line}: keep texts to plain ASCII without quotes")
        table_a_desc[code] = text_a
        table_w_desc[code] = text_w
    return table_a_desc, table_w_desc


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def emit_table(out, type_name, array, table, wide):
    out.append(f"constexpr {type_name} {array}[] = {{")
    for code, text in sorted(table.items()):
        out.append(f"    {{0x{code:08X}u, {'u' if wide else ''}{c_string(text)}}},")
    out.append("};")
    out.append("")


HEADER = ("// Generated by errtext/tools/gen_hresult_tables.py from the files beside it.\n"
          "// Do not edit: change the inputs or the rules and run the generator again.\n")


def render(names_a, names_w, desc_a, desc_w):
    names = [HEADER, "// Sorted by code; the lookup searches them by halving."]
    emit_table(names, "NameEntryA", "kNameTableA", names_a, False)
    emit_table(names, "NameEntryW", "kNameTableW", names_w, True)
    descs = [HEADER, "// Sorted by code; the lookup searches them by halving."]
    emit_table(descs, "NameEntryA", "kDescriptionTableA", desc_a, False)
    emit_table(descs, "NameEntryW", "kDescriptionTableW", desc_w, True)
    return "\n".join(names), "\n".join(descs)


def report(names_a, names_w, desc_a, desc_w, dropped_later):
    def per_prefix(table):
        names = collections.defaultdict(set)
        codes = collections.Counter()
        for name in table.values():
            first = name.split(" & ")[0]
            names[prefix_of(first)].add(name)
            codes[prefix_of(first)] += 1
        return names, codes

    names8, codes8 = per_prefix(names_a)
    names16, _ = per_prefix(names_w)
    print(f"8-bit table: {len(names_a)} codes, {len(set(names_a.values()))} names")
    print(f"UTF-16 table: {len(names_w)} codes, {len(set(names_w.values()))} names")
    print(f"descriptions: {len(desc_a)} codes, {len(set(desc_a.values()))} texts "
          f"({sum(1 for t in set(desc_a.values()) if t.endswith('.'))} ending in a full stop)")
    print("prefix: names (UTF-16) codes, against the expected counts where they differ")
    for prefix, (_, n8, n16, nc) in COVERAGE.items():
        got = (len(names8[prefix]), len(names16[prefix]), codes8[prefix])
        if got != (n8, n16, nc):
            print(f"  {prefix:14} {got[0]} ({got[1]}) {got[2]}   expected {n8} ({n16}) {nc}")
    answered = {part for name in names_a.values() for part in name.split(" & ")}
    unused = sorted(dropped_later - answered)
    if unused:
        print("left out as later additions:", " ".join(unused))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", default=os.path.join(HERE, ".."), help="folder for the .inc files")
    parser.add_argument("--report", action="store_true", help="print counts per prefix")
    args = parser.parse_args()
    try:
        rows = read_codes(os.path.join(HERE, "hresult-codes.tsv"))
        desc_rows = read_descriptions(os.path.join(HERE, "hresult-descriptions.tsv"))
        names_a, names_w, dropped = build_names(rows, {r[1] for r in desc_rows})
        desc_a, desc_w = build_descriptions(desc_rows, names_a)
    except Fail as e:
        print(f"gen_hresult_tables: {e}", file=sys.stderr)
        return 1
    names_text, desc_text = render(names_a, names_w, desc_a, desc_w)
    for file_name, text in (("hresult_name_table.inc", names_text),
                            ("hresult_description_table.inc", desc_text)):
        with open(os.path.join(args.out, file_name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    if args.report:
        report(names_a, names_w, desc_a, desc_w, dropped)
    return 0


if __name__ == "__main__":
    sys.exit(main())
