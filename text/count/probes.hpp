// What the matcher looks for before it compares: the two units of the search
// text rarest in prose, and how each is told apart in the text. Internal to text/.
#pragma once

#include <cstddef>
#include <string_view>

#include "case/case_fold.hpp"

namespace palavox::detail {

// How a probe tells whether a unit may fold to its folded unit: one
// comparison (exact matching), one comparison after setting a bit (a letter
// and its capital, or a unit alone), or four comparisons.
enum class ProbeKind : unsigned char { Exact, BitPair, Class };

// A candidate start i needs text[i + offset] to be one of `units`; for a
// BitPair probe, units.units[0] == text[i + offset] | bit.
struct Probe {
    std::size_t offset = 0;
    FoldClass units{};
    char16_t bit = 0;
};

template <ProbeKind kKind>
constexpr bool Accepts(const Probe& probe, char16_t unit) noexcept {
    const FoldClass& c = probe.units;
    if constexpr (kKind == ProbeKind::Exact) {
        return unit == c.units[0];
    } else if constexpr (kKind == ProbeKind::BitPair) {
        return (unit | probe.bit) == c.units[0];
    } else {
        // Unused slots repeat a member, so four tests are always right.
        return unit == c.units[0] || unit == c.units[1] || unit == c.units[2] || unit == c.units[3];
    }
}

// The two units of a class that differ in one bit, or a class of one, as
// (unit with the bit set, bit); false for any other class.
bool AsBitPair(const FoldClass& c, char16_t& unit, char16_t& bit) noexcept;

// The two rarest units of the search text (the same one twice when it has one
// unit), in the form one kind tests them all. Under TextCompare surrogates
// fold in pairs and are never probed: `any` is false when nothing else is left.
struct Probes {
    Probe first, second;
    ProbeKind kind = ProbeKind::Exact;
    bool any = false;
};

Probes ChooseProbes(std::u16string_view search, bool fold) noexcept;

}  // namespace palavox::detail
