#include "case/case_fold.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "case/case_fold_table.hpp"
#include "literal/case_comparisons.hpp"
#include "literal/case_mapping_table.hpp"

namespace palavox::detail {
namespace {

constexpr std::uint32_t kLastCodePoint = 0x10FFFF;

// char32_t does not stream into failure messages; plain numbers do.
std::uint32_t Fold(std::uint32_t cp) { return FoldCodePoint(static_cast<char32_t>(cp)); }

TEST(FoldCodePoint, SpotChecks) {
    struct Case {
        std::uint32_t in, out;
        const char* why;
    };
    const Case cases[] = {
        {U'A', U'a', "ASCII upper"},
        {U'Z', U'z', "ASCII upper, last"},
        {U'@', U'@', "just before A"},
        {U'[', U'[', "just after Z"},
        {U'a', U'a', "already folded"},
        {0x00C0, 0x00E0, "Latin-1 A grave"},
        {0x00DE, 0x00FE, "Latin-1 thorn"},
        {0x00D7, 0x00D7, "multiplication sign sits among the capitals"},
        {0x00B5, 0x03BC, "micro sign folds to Greek mu"},
        {0x00DF, 0x00DF, "sharp s only has a full folding"},
        {0x0178, 0x00FF, "Y diaeresis leaves Latin-1 range"},
        {0x1E9E, 0x00DF, "capital sharp s"},
        {0x212A, U'k', "Kelvin sign"},
        {0x212B, 0x00E5, "Angstrom sign"},
        {0x017F, U's', "long s"},
        {U'I', U'i', "not the Turkic dotless i"},
        {0x0130, 0x0130, "I with dot above: full and Turkic only"},
        {0x03A3, 0x03C3, "capital sigma"},
        {0x03C2, 0x03C3, "final sigma"},
        {0x13F8, 0x13F0, "Cherokee small folds to capital"},
        {0xAB70, 0x13A0, "Cherokee small, delta beyond 16 signed bits"},
        {0x13A0, 0x13A0, "Cherokee capital is the folded form"},
        {0x10A0, 0x2D00, "Georgian"},
        {0xFF21, 0xFF41, "fullwidth A stays fullwidth"},
        {0xFF41, 0xFF41, "fullwidth a"},
        {0x10400, 0x10428, "Deseret"},
        {0x10428, 0x10428, "Deseret small"},
        {0x1E900, 0x1E922, "Adlam first"},
        {0x1E921, 0x1E943, "Adlam last capital"},
        {0x0378, 0x0378, "unassigned"},
        {0xD801, 0xD801, "surrogate"},
        {0xFFFF, 0xFFFF, "noncharacter"},
        {kLastCodePoint, kLastCodePoint, "last code point"},
        {0x110000, 0x110000, "out of range"},
        {0xFFFFFFFF, 0xFFFFFFFF, "out of range, largest"},
    };
    for (const Case& c : cases) EXPECT_EQ(Fold(c.in), c.out) << std::hex << c.in << ": " << c.why;
}

TEST(FoldedUnitAt, SurrogateHandling) {
    struct Case {
        std::u16string text;
        std::size_t i;
        char16_t out;
        const char* why;
    };
    const Case cases[] = {
        {u"\xD801\xDC00", 0, 0xD801, "Deseret pair, high unit"},
        {u"\xD801\xDC00", 1, 0xDC28, "Deseret pair, low unit"},
        {u"x\xD83A\xDD00y", 2, 0xDD22, "Adlam pair inside text"},
        {u"a\xD801", 1, 0xD801, "lone high at end"},
        {u"\xDC00"
         "a",
         0, 0xDC00, "lone low at start"},
        {u"\xDC00\xD801", 0, 0xDC00, "reversed pair, low"},
        {u"\xDC00\xD801", 1, 0xD801, "reversed pair, high"},
        {u"\xD801\xDC00\xDC00", 2, 0xDC00, "low after a complete pair is lone"},
        {u"\xD7FF\xDF21", 1, 0xDF21, "lone low whose misread pair would be U+FF21"},
        {u"\xD801\xD801\xDC00", 0, 0xD801, "high before a high is lone"},
        {u"\xD801\xD801\xDC00", 2, 0xDC28, "second high pairs"},
        {u"\x212A", 0, u'k', "BMP unit"},
        {u"H", 0, u'h', "ASCII"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(static_cast<int>(FoldedUnitAt(c.text, c.i)), static_cast<int>(c.out)) << c.why;
}

// Invariants over the whole range: length kept, folding settled after one
// step, and FoldedUnitAt agreeing with FoldCodePoint unit by unit.
TEST(FoldCodePoint, WholeRangeInvariants) {
    for (std::uint32_t cp = 0; cp <= kLastCodePoint; ++cp) {
        const std::uint32_t f = Fold(cp);
        ASSERT_LE(f, kLastCodePoint) << std::hex << cp;
        ASSERT_EQ(cp < 0x10000, f < 0x10000) << std::hex << cp;
        ASSERT_EQ(Fold(f), f) << std::hex << cp;
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            ASSERT_EQ(f, cp);
        } else if (cp < 0x10000) {
            ASSERT_EQ(FoldedUnitAt(std::u16string(1, static_cast<char16_t>(cp)), 0), f)
                << std::hex << cp;
        } else {
            const char16_t pair[] = {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)),
                                     static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
            const std::u16string_view text(pair, 2);
            ASSERT_EQ(FoldedUnitAt(text, 0), 0xD800 + ((f - 0x10000) >> 10)) << std::hex << cp;
            ASSERT_EQ(FoldedUnitAt(text, 1), 0xDC00 + (f & 0x3FF)) << std::hex << cp;
        }
    }
    // Each unit's class (what the searches test for it) is exactly the units
    // folding to it: none for a unit that folds to another.
    std::vector<std::set<char16_t>> folding(0x10000);
    for (std::uint32_t u = 0; u < 0x10000; ++u) {
        if (u < 0xD800 || u > 0xDFFF) folding[Fold(u)].insert(static_cast<char16_t>(u));
    }
    for (std::uint32_t u = 0; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        const FoldClass c = UnitsFoldingTo(static_cast<char16_t>(u));
        ASSERT_LE(c.count, 4u) << std::hex << u;
        ASSERT_EQ(std::set<char16_t>(c.units, c.units + c.count), folding[u]) << std::hex << u;
    }
}

// Link detection searches "http" case-insensitively: no other character may
// fold onto an ASCII letter than its own two cases, save the two known extras.
TEST(FoldCodePoint, OnlyKnownCodePointsFoldToAsciiLetters) {
    std::map<std::uint32_t, std::set<std::uint32_t>> expected;
    for (std::uint32_t c = 'a'; c <= 'z'; ++c) expected[c] = {c, c - 0x20};
    expected['k'].insert(0x212A);
    expected['s'].insert(0x017F);
    std::map<std::uint32_t, std::set<std::uint32_t>> actual;
    for (std::uint32_t cp = 0; cp <= kLastCodePoint; ++cp) {
        const std::uint32_t f = Fold(cp);
        if ((f >= 'a' && f <= 'z') || (f >= 'A' && f <= 'Z')) actual[f].insert(cp);
    }
    EXPECT_EQ(actual, expected);
    for (char c : {'h', 't', 'p'}) EXPECT_EQ(actual[static_cast<std::uint32_t>(c)].size(), 2u) << c;
}

// What a pinned Unicode file maps code points to.
using Mapping = std::map<std::uint32_t, std::uint32_t>;

// CaseFolding.txt: the simple folding, statuses C and S.
Mapping ReadFolding(std::istream& in) {
    Mapping simple;
    std::string line;
    while (std::getline(in, line)) {
        unsigned code = 0, mapping = 0;
        char status = 0;
        if (std::sscanf(line.c_str(), "%x; %c; %x;", &code, &status, &mapping) == 3 &&
            (status == 'C' || status == 'S'))
            simple[code] = mapping;
    }
    return simple;
}

// UnicodeData.txt: the simple mapping of `field` (12 upper case, 13 lower case)
// wherever it keeps the UTF-16 length, which the comparisons' keys must.
Mapping ReadUnicodeData(std::istream& in, std::size_t field) {
    Mapping simple;
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields(1);
        for (char c : line) {
            if (c == ';') {
                fields.emplace_back();
            } else {
                fields.back() += c;
            }
        }
        if (fields.size() != 15 || fields[field].empty()) continue;
        const auto code = static_cast<std::uint32_t>(std::stoul(fields[0], nullptr, 16));
        const auto mapping = static_cast<std::uint32_t>(std::stoul(fields[field], nullptr, 16));
        if ((code < 0x10000) == (mapping < 0x10000)) simple[code] = mapping;
    }
    return simple;
}

std::uint32_t Key(literal::Comparison comparison, std::uint32_t cp) {
    return literal::ComparisonKey(comparison, static_cast<char32_t>(cp));
}

// The only test that can see a fault in the generated tables: the reference
// model folds through the same table as the code under test, and verify's
// comparisons have no other source. So a missing file fails it.
TEST(CaseTables, MatchPinnedUnicodeData) {
    struct Row {
        const char* what;
        const char* file;  // the pinned file, named <stem>-<version>.txt
        std::string name;  // what the table says it was generated from
        bool header;       // the file's first line names it (UnicodeData.txt has none)
        Mapping (*read)(std::istream&);
        std::uint32_t (*table)(std::uint32_t);
    };
    const Row rows[] = {
        {"simple case folding", PALAVOX_CASE_FOLDING_FILE,
         std::string("CaseFolding-") + case_fold_table::kUnicodeVersion + ".txt", true,
         &ReadFolding, &Fold},
        {"simple upper-case mapping", PALAVOX_UNICODE_DATA_FILE,
         std::string("UnicodeData-") + literal::case_mapping_table::kUnicodeVersion + ".txt", false,
         [](std::istream& in) { return ReadUnicodeData(in, 12); },
         [](std::uint32_t cp) { return Key(literal::Comparison::UpperCase, cp); }},
        {"simple lower-case mapping", PALAVOX_UNICODE_DATA_FILE,
         std::string("UnicodeData-") + literal::case_mapping_table::kUnicodeVersion + ".txt", false,
         [](std::istream& in) { return ReadUnicodeData(in, 13); },
         [](std::uint32_t cp) { return Key(literal::Comparison::LowerCase, cp); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string file = row.file;
        ASSERT_TRUE(file.ends_with("/" + row.name))
            << "the table was not generated from " << file << " but from " << row.name;
        std::ifstream in(file);
        ASSERT_TRUE(in) << file << " cannot be read";
        if (row.header) {
            std::string line;
            std::getline(in, line);
            ASSERT_NE(line.find(row.name), std::string::npos) << file << " is not " << row.name;
        }
        const Mapping simple = row.read(in);
        ASSERT_GT(simple.size(), 1000u);
        for (std::uint32_t cp = 0; cp <= kLastCodePoint; ++cp) {
            const auto it = simple.find(cp);
            ASSERT_EQ(row.table(cp), it == simple.end() ? cp : it->second) << std::hex << cp;
        }
    }
}

}  // namespace
}  // namespace palavox::detail
