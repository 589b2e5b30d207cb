#include "short_search.hpp"

#include "case/case_fold.hpp"
#include "probes.hpp"

namespace palavox::detail {
namespace {

LaneTest LaneTestOf(const FoldClass& c) noexcept {
    LaneTest test{{c.units[0], c.units[1], c.units[2], c.units[3]}, 0, LaneForm::Four};
    char16_t unit = 0, bit = 0;
    if (AsBitPair(c, unit, bit)) {
        test = {{unit, unit, unit, unit}, bit, c.count == 1 ? LaneForm::One : LaneForm::Pair};
    }
    return test;
}

UnitTests TestsOf(const FoldClass& c) noexcept {
    UnitTests tests{{0, 0}, LaneTestOf(c), {}, false, false};
    FoldClass low{{}, 0}, high{{}, 0};
    for (unsigned k = 0; k < c.count; ++k) {
        FoldClass& part = c.units[k] < 0x100 ? low : high;
        part.units[part.count++] = c.units[k];
    }
    for (FoldClass* part : {&low, &high}) {
        for (unsigned k = part->count; k < 4; ++k) part->units[k] = part->units[0];
    }
    if (high.count > 0) {
        tests.hasExtra = true;
        tests.extra = LaneTestOf(high);
    }
    // Narrowed, units past 0xFF are 0xFF or 0x00: a class that holds either,
    // or only units past 0xFF, is tested in lanes; so is one with members past
    // 0x7FFF, which would narrow to 0x00 and escape the look for 0xFF bytes.
    char16_t unit = 0, bit = 0;
    // branch-untaken: in Unicode 15.0 a class's units below 0x100 differ in one bit at most
    if (low.count == 0 || !AsBitPair(low, unit, bit)) return tests;
    for (unsigned k = 0; k < low.count; ++k) {
        if (low.units[k] == 0 || low.units[k] == 0xFF) return tests;
    }
    for (unsigned k = 0; k < high.count; ++k) {
        // branch-untaken: in Unicode 15.0 no class with a unit below 0x100 has one past 0x7FFF
        if (high.units[k] > 0x7FFF) return tests;
    }
    tests.byte = {static_cast<unsigned char>(unit), static_cast<unsigned char>(bit)};
    tests.bytes = true;
    return tests;
}

// Built once, on first use: describing a class unit by unit costs more than
// the search of a short text.
const UnitTests& FoldedLatin1Tests(char16_t folded) noexcept {
    struct Table {
        UnitTests tests[0x100];
    };
    static const Table table = [] {
        Table t;
        for (char16_t u = 0; u < 0x100; ++u) t.tests[u] = TestsOf(UnitsFoldingTo(u));
        return t;
    }();
    return table.tests[folded];
}

// Written field by field where it stays: a copy of a temporary built that
// way would read it back before the writes settle.
void DescribeUnit(char16_t unit, bool fold, UnitTests& tests) noexcept {
    if (fold) {
        const char16_t folded = FoldBmpUnit(unit);
        tests = folded < 0x100 ? FoldedLatin1Tests(folded) : TestsOf(UnitsFoldingTo(folded));
        return;
    }
    // A class of one: narrowed, it is told apart unless it is 0x00, or 0xFF or past it.
    tests.bytes = unit != 0 && unit < 0xFF;
    tests.byte.unit = static_cast<unsigned char>(tests.bytes ? unit : 0);
    tests.byte.bit = 0;
    for (char16_t& u : tests.lane.units) u = unit;
    tests.lane.bit = 0;
    tests.lane.form = LaneForm::One;
    tests.hasExtra = false;
}

}  // namespace

ShortSearch PlanShortSearch(std::u16string_view search, bool fold) noexcept {
    // One object returned on every path, built where the caller keeps it.
    ShortSearch s;
    const std::size_t m = search.size();
    if (m == 0 || m > kMaxShortSearch) return s;
    for (std::size_t k = 0; k < m; ++k) {
        if (fold && IsSurrogate(search[k])) return s;
    }
    s.size = static_cast<unsigned char>(m);
    bool bytes = true, extras = false;  // kept here, not read back from s
    for (std::size_t k = 0; k < m; ++k) {
        UnitTests& tests = s.place[k];
        DescribeUnit(search[k], fold, tests);
        bytes = bytes && tests.bytes && tests.byte.bit == s.place[0].byte.bit;
        extras = extras || tests.hasExtra;
    }
    s.bytes = bytes;
    s.bit = s.place[0].byte.bit;
    s.extras = extras && bytes;
    // Matches overlap only where a proper prefix equals the suffix as long.
    const auto key = [&](std::size_t k) noexcept {
        return fold ? FoldBmpUnit(search[k]) : search[k];
    };
    s.overlaps = false;
    for (std::size_t k = 1; k < m && !s.overlaps; ++k) {
        bool same = true;
        for (std::size_t j = 0; j < k && same; ++j) same = key(j) == key(m - k + j);
        s.overlaps = same;
    }
    s.active = true;
    return s;
}

}  // namespace palavox::detail
