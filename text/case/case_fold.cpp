#include "case_fold.hpp"

#include <algorithm>
#include <array>
#include <cstdint>

namespace palavox::detail {
namespace {

// The inverse of simple folding over the BMP, built by the compiler from the
// same table, so the two cannot drift apart.
struct Preimage {
    char16_t folded;
    char16_t unit;
};

constexpr std::size_t CountUnitsThatFold() {
    std::size_t count = 0;
    for (char32_t u = 0; u < 0x10000; ++u) {
        if (!IsSurrogate(static_cast<char16_t>(u)) && FoldCodePoint(u) != u) ++count;
    }
    return count;
}

constexpr std::size_t kUnitsThatFold = CountUnitsThatFold();

constexpr std::array<Preimage, kUnitsThatFold> kPreimages = [] {
    std::array<Preimage, kUnitsThatFold> preimages{};
    std::size_t at = 0;
    for (char32_t u = 0; u < 0x10000; ++u) {
        const char32_t folded = FoldCodePoint(u);
        if (!IsSurrogate(static_cast<char16_t>(u)) && folded != u) {
            preimages[at++] = {static_cast<char16_t>(folded), static_cast<char16_t>(u)};
        }
    }
    std::sort(preimages.begin(), preimages.end(), [](const Preimage& a, const Preimage& b) {
        return a.folded != b.folded ? a.folded < b.folded : a.unit < b.unit;
    });
    return preimages;
}();

// FoldClass holds four units: a folded unit and at most three others.
constexpr bool ClassesFit() {
    for (std::size_t i = 0; i + 3 < kPreimages.size(); ++i) {
        if (kPreimages[i].folded == kPreimages[i + 3].folded) return false;
    }
    return true;
}
static_assert(ClassesFit(), "a folded unit has more than three other units folding to it");

constexpr FoldClass ClassOf(char16_t folded) noexcept {
    FoldClass result{{folded, folded, folded, folded}, 0};
    if (FoldBmpUnit(folded) == folded) result.units[result.count++] = folded;
    const auto first =
        std::lower_bound(kPreimages.begin(), kPreimages.end(), folded,
                         [](const Preimage& p, char16_t value) { return p.folded < value; });
    for (auto it = first; it != kPreimages.end() && it->folded == folded; ++it) {
        result.units[result.count++] = it->unit;
    }
    return result;
}

// The classes of Latin-1, which is most of what search texts hold, looked up
// rather than searched for.
constexpr std::array<FoldClass, 0x100> kLatin1Classes = [] {
    std::array<FoldClass, 0x100> classes{};
    for (char16_t u = 0; u < 0x100; ++u) classes[u] = ClassOf(u);
    return classes;
}();

}  // namespace

FoldClass UnitsFoldingTo(char16_t folded) noexcept {
    return folded < 0x100 ? kLatin1Classes[folded] : ClassOf(folded);
}

}  // namespace palavox::detail
