#include "probes.hpp"

#include <array>
#include <utility>

namespace palavox::detail {
namespace {

// About how many of a thousand units of prose (Portuguese and English alike)
// are this one. Only the order matters: it picks the probes that let the
// fewest starts through, so the scan rarely stops to verify.
constexpr std::array<unsigned char, 128> kAsciiPerMille = [] {
    std::array<unsigned char, 128> f{};
    for (auto& x : f) x = 1;
    constexpr std::pair<char, unsigned char> kLetters[] = {
        {'e', 105}, {'a', 100}, {'o', 80}, {'s', 60}, {'r', 55}, {'i', 55}, {'n', 50},
        {'t', 50},  {'d', 40},  {'m', 35}, {'u', 35}, {'c', 35}, {'l', 28}, {'p', 22},
        {'h', 20},  {'v', 13},  {'g', 12}, {'f', 10}, {'b', 10}, {'q', 9},  {'y', 6},
        {'w', 6},   {'z', 4},   {'k', 3},  {'j', 3},  {'x', 3}};
    for (const auto& [letter, perMille] : kLetters) {
        f[static_cast<unsigned char>(letter)] = perMille;
        f[static_cast<unsigned char>(letter - 0x20)] =
            static_cast<unsigned char>(perMille / 15 > 0 ? perMille / 15 : 1);
    }
    for (char digit = '0'; digit <= '9'; ++digit) f[static_cast<unsigned char>(digit)] = 4;
    f[' '] = 160;
    f[','] = f['.'] = 10;
    f['\r'] = f['\n'] = f['-'] = 3;
    return f;
}();

constexpr unsigned PerMille(char16_t unit) noexcept {
    // Accented letters, other scripts, symbols: rarer than all but the rarest ASCII letters.
    return unit < 0x80 ? kAsciiPerMille[unit] : 3;
}

// The probe for one unit of the search text, in the form its kind tests (under
// TextCompare a class of one or two units one bit apart becomes a BitPair
// probe), and what it costs: the share of starts it lets through, times the
// compares it takes (a class of three, as for k and s, is worth avoiding).
struct Candidate {
    Probe probe;
    unsigned cost = 0;
    bool bitPair = true;
};

Candidate CandidateAt(std::u16string_view search, std::size_t offset, bool fold) noexcept {
    const char16_t unit = search[offset];
    Candidate c{{offset, {{unit, unit, unit, unit}, 1}, 0}};
    if (fold) c.probe.units = UnitsFoldingTo(FoldBmpUnit(unit));
    unsigned share = 0;
    for (unsigned k = 0; k < c.probe.units.count; ++k) share += PerMille(c.probe.units.units[k]);
    char16_t pairUnit = 0, bit = 0;
    c.bitPair = AsBitPair(c.probe.units, pairUnit, bit);
    c.cost = c.bitPair ? share : 3 * share;
    if (c.bitPair) c.probe = {offset, {{pairUnit, pairUnit, pairUnit, pairUnit}, 1}, bit};
    return c;
}

}  // namespace

bool AsBitPair(const FoldClass& c, char16_t& unit, char16_t& bit) noexcept {
    if (c.count == 1) {
        unit = c.units[0];
        bit = 0;
        return true;
    }
    const auto differ = static_cast<char16_t>(c.units[0] ^ c.units[1]);
    if (c.count != 2 || (differ & (differ - 1)) != 0) return false;
    unit = static_cast<char16_t>(c.units[0] | differ);
    bit = differ;
    return true;
}

Probes ChooseProbes(std::u16string_view search, bool fold) noexcept {
    // The two rarest units; on a tie the first and last, then the earlier.
    Candidate best[2];
    std::size_t found = 0;
    const auto consider = [&](std::size_t offset) noexcept {
        if (fold && IsSurrogate(search[offset])) return;
        const Candidate c = CandidateAt(search, offset, fold);
        if (found == 0 || c.cost < best[0].cost) {
            best[1] = best[0];
            best[0] = c;
        } else if (found == 1 || c.cost < best[1].cost) {
            best[1] = c;
        }
        ++found;
    };
    const std::size_t m = search.size();
    if (m == 0) return {};
    consider(0);
    if (m > 1) consider(m - 1);
    for (std::size_t offset = 1; offset + 1 < m; ++offset) consider(offset);
    if (found == 0) return {};
    if (found == 1) best[1] = best[0];

    Probes probes{best[0].probe, best[1].probe, ProbeKind::Exact, true};
    if (!fold) return probes;
    if (best[0].bitPair && best[1].bitPair) {
        probes.kind = ProbeKind::BitPair;
        return probes;
    }
    // Some probe needs the whole class: give both their whole class back.
    probes.kind = ProbeKind::Class;
    for (Probe* probe : {&probes.first, &probes.second}) {
        probe->units = UnitsFoldingTo(FoldBmpUnit(search[probe->offset]));
        probe->bit = 0;
    }
    return probes;
}

}  // namespace palavox::detail
