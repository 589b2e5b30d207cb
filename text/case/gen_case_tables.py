#!/usr/bin/env python3
"""Writes text/'s case tables from the pinned Unicode data in text/case/unicode/.

Usage: python3 text/case/gen_case_tables.py

- text/case/case_fold_table.hpp, from CaseFolding.txt: the simple folding (statuses
  C and S) every routine compares by. Full (F) mappings change the length of a
  text and the Turkic (T) ones depend on a language.
- text/literal/case_mapping_table.hpp, from UnicodeData.txt: the simple upper-
  and lower-case mappings (fields 12 and 13), which `palavox verify` compares
  by to tell whether a recorded count is what another component's comparison
  gives. Mappings that would change the UTF-16 length are left out, so a mapped
  text lines up unit for unit with its original (Unicode 15.0 has none).

Both files must be of one Unicode version: verify names the letters on which
folding and a mapping disagree, and a letter only one version knows would be
named for nothing.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# The pinned Unicode data, kept beside this script: the tables never depend on
# what a distribution happens to ship. UnicodeData.txt has no header, so its
# file name is what says its version.
CASE_FOLDING = os.path.join(HERE, "unicode", "CaseFolding-15.0.0.txt")
UNICODE_DATA = os.path.join(HERE, "unicode", "UnicodeData-15.0.0.txt")
FOLD_OUTPUT = os.path.join(HERE, "case_fold_table.hpp")
MAPPING_OUTPUT = os.path.join(HERE, os.pardir, "literal", "case_mapping_table.hpp")
REGENERATE = "python3 text/case/gen_case_tables.py"

# 32 code points a page gives the smallest pair of stages for this data
# (about 8 KiB, against 13 KiB for 256-point pages).
PAGE_SHIFT = 5
PAGE = 1 << PAGE_SHIFT


def utf16_len(cp):
    return 1 if cp < 0x10000 else 2


def read_folding(path):
    version = None
    folding = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if version is None:
                found = re.match(r"#\s*CaseFolding-(\d+\.\d+\.\d+)\.txt", line)
                if found:
                    version = found.group(1)
            data = line.split("#", 1)[0].strip()
            if not data:
                continue
            code, status, mapping = (field.strip() for field in data.split(";")[:3])
            if status not in ("C", "S"):
                continue
            source, target = int(code, 16), int(mapping, 16)
            assert utf16_len(source) == utf16_len(target), f"U+{source:04X} changes UTF-16 length"
            # Deltas are stored modulo 2^16, which needs the plane to stay put.
            assert source >> 16 == target >> 16, f"U+{source:04X} leaves its plane"
            assert source not in folding, f"U+{source:04X} mapped twice"
            folding[source] = target
    assert version, "no CaseFolding-x.y.z.txt line in the header"
    assert folding, "no C or S mappings found"
    return version, folding


def read_mappings(path):
    """The simple upper- and lower-case mappings that keep the UTF-16 length."""
    found = re.search(r"UnicodeData-(\d+\.\d+\.\d+)\.txt$", path)
    assert found, f"{path}: the file name must say the version (UnicodeData-x.y.z.txt)"
    upper, lower, dropped = {}, {}, []
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            assert len(fields) == 15, f"not a UnicodeData.txt line: {line!r}"
            source = int(fields[0], 16)
            for mappings, field in ((upper, fields[12]), (lower, fields[13])):
                if not field:
                    continue
                target = int(field, 16)
                if utf16_len(source) != utf16_len(target):
                    dropped.append(source)
                elif target != source:
                    mappings[source] = target
    assert upper and lower, "no case mappings found"
    return found.group(1), upper, lower, dropped


def build_stages(folding):
    # Pages past the last mapping are not stored: the lookup returns them unchanged.
    page_count = (max(folding) >> PAGE_SHIFT) + 1
    pages, index = {}, []
    for page in range(page_count):
        first = page << PAGE_SHIFT
        deltas = tuple((folding.get(cp, cp) - cp) & 0xFFFF for cp in range(first, first + PAGE))
        index.append(pages.setdefault(deltas, len(pages)))
    return index, list(pages)


def rows(items, per_line):
    return "\n".join("    " + " ".join(items[i:i + per_line]) for i in range(0, len(items), per_line))


def hex_rows(values, width, per_line):
    return rows([f"0x{v:0{width}X}," for v in values], per_line)


def render_folding(version, folding):
    index, pages = build_stages(folding)
    index_type = "std::uint8_t" if len(pages) <= 0x100 else "std::uint16_t"
    deltas = [d for page in pages for d in page]
    return f"""\
// Generated from CaseFolding-{version}.txt (Unicode {version}); do not edit.
// Regenerate: {REGENERATE}
// clang-format off
#pragma once

#include <cstdint>

namespace palavox::detail::case_fold_table {{

inline constexpr char kUnicodeVersion[] = "{version}";
inline constexpr unsigned kPageShift = {PAGE_SHIFT};
// Code points from here on have no folding.
inline constexpr char32_t kLimit = 0x{len(index) << PAGE_SHIFT:X};

// Page of each block of {PAGE} code points below kLimit.
inline constexpr {index_type} kPageOf[{len(index)}] = {{
{hex_rows(index, 2, 16)}
}};

// Folded code point minus the original, modulo 2^16 (a mapping never leaves its plane).
inline constexpr std::uint16_t kDelta[{len(pages)} * {PAGE}] = {{
{hex_rows(deltas, 4, 8)}
}};

}}  // namespace palavox::detail::case_fold_table
"""


def render_mappings(version, upper, lower):
    cells = [f"{{0x{cp:04X}, 0x{upper.get(cp, cp):04X}, 0x{lower.get(cp, cp):04X}}},"
             for cp in sorted(upper.keys() | lower.keys())]
    return f"""\
// Generated from UnicodeData-{version}.txt (Unicode {version}); do not edit.
// Regenerate: {REGENERATE}
// clang-format off
#pragma once

#include <array>

namespace palavox::literal::case_mapping_table {{

inline constexpr char kUnicodeVersion[] = "{version}";

// A code point's simple case mappings, each the code point itself where it has
// none or where it would change the UTF-16 length.
struct Mappings {{
    char32_t from;
    char32_t upper;
    char32_t lower;
}};

// Every code point with a mapping, sorted.
inline constexpr std::array<Mappings, {len(cells)}> kMappings = {{{{
{rows(cells, 3)}
}}}};

}}  // namespace palavox::literal::case_mapping_table
"""


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(text)


def main(argv):
    if len(argv) > 1:
        sys.exit(__doc__)
    fold_version, folding = read_folding(CASE_FOLDING)
    map_version, upper, lower, dropped = read_mappings(UNICODE_DATA)
    assert fold_version == map_version, f"CaseFolding {fold_version} beside UnicodeData {map_version}"
    if dropped:
        print("left out, they change the UTF-16 length: " +
              ", ".join(f"U+{cp:04X}" for cp in sorted(set(dropped))), file=sys.stderr)
    write(FOLD_OUTPUT, render_folding(fold_version, folding))
    write(MAPPING_OUTPUT, render_mappings(map_version, upper, lower))


if __name__ == "__main__":
    main(sys.argv)
