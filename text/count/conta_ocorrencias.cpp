#include <cstdint>

#include "case/case_fold.hpp"
#include "matcher.hpp"
#include "palavox/mod_palavox.hpp"
#include "simd/simd.hpp"
#define PALAVOX_KERNEL "count/short_count_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::detail {
namespace {

constexpr std::size_t kNotCounted = static_cast<std::size_t>(-1);

// Simple case folding of two units below 0x100 agrees with lowering A-Z and
// U+00C0..U+00DE but U+00D7 (setting bit 5), which a vector does in a few
// steps, except at one unit: U+00B5 (micro) folds out of Latin-1, to U+03BC,
// and no other unit below 0x100 folds there, so it matches itself alone
// either way. Units from past 0xFF fold into Latin-1 too (U+212A Kelvin to
// k, U+212B Angstrom to U+00E5, U+017F long s to s, U+1E9E to U+00DF, U+0178
// to U+00FF): CountShort takes only texts and search texts with no unit past
// 0xFF under TextCompare, and the others go the general way, which knows them.
constexpr char16_t LowerLatin1(char16_t u) noexcept {
    const bool upper = (u >= u'A' && u <= u'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7);
    return static_cast<char16_t>(upper ? u | 0x20 : u);
}

constexpr bool LoweringIsFolding() {
    for (char16_t u = 0; u < 0x100; ++u) {
        if (u == 0xB5) continue;
        if (LowerLatin1(u) != FoldBmpUnit(u) || LowerLatin1(u) == 0xB5) return false;
        if (FoldBmpUnit(u) == FoldBmpUnit(0xB5)) return false;
    }
    return LowerLatin1(0xB5) == 0xB5;
}
static_assert(LoweringIsFolding(), "Latin-1's simple folding is no longer lowering (CountShort)");

template <bool kFold, class Isa>
std::size_t CountShortWith(std::u16string_view text, std::u16string_view search) noexcept {
    const std::size_t n = text.size(), m = search.size();
    const char16_t* const t = text.data();
    const char16_t* const p = search.data();
    const auto key = [](char16_t u) noexcept { return kFold ? LowerLatin1(u) : u; };
    if constexpr (kFold) {
        char16_t all = 0;
        for (std::size_t j = 0; j < m; ++j) all = static_cast<char16_t>(all | p[j]);
        if (all >= 0x100) return kNotCounted;
    }
    ShortKeys keys{{0, m > 1 ? 1u : 0u, m - 1}, {}, {0, 0, 0}};
    for (int k = 0; k < 3; ++k) {
        const char16_t u = keys.unit[k] = key(p[keys.at[k]]);
        // A lowered letter with a capital below 0x100 (its unit less bit 5
        // lowers to it) passes with it; any other unit alone.
        if (kFold && (u & 0x20) != 0 && LowerLatin1(static_cast<char16_t>(u & ~0x20)) == u) {
            keys.bit[k] = 0x20;
        }
    }
    std::uint64_t starts = 0;
    if (!ShortCountStarts<kFold>(Isa{}, t, n - m + 1, keys, starts)) {
        return kNotCounted;  // a unit past 0xFF in the text
    }
    // Three units tested are the whole of a search text of up to three.
    std::size_t count = 0;
    while (starts != 0) {
        const std::size_t at = Lowest(starts);
        std::size_t j = 2;
        for (; j + 1 < m; ++j) {
            const char16_t u = t[at + j];
            if (kFold && u >= 0x100) return kNotCounted;
            if (key(u) != key(p[j])) break;
        }
        if (j + 1 >= m) {
            ++count;
            // No start inside this match: the next is at + m or later.
            starts = at + m >= 64 ? 0 : starts & ~((std::uint64_t{2} << (at + m - 1)) - 1);
        } else {
            starts &= starts - 1;
        }
    }
    return count;
}

// CountByComparing's answer, or kNotCounted where the text is not taken (too
// short or long, a unit past 0xFF under TextCompare, the plain loops' kernel).
inline std::size_t CountShort(std::u16string_view text, std::u16string_view search,
                              CompareMode mode) noexcept {
    // At least eight starts, for two overlapping half-steps; at most 64, for
    // one mask. Neither text is empty (both callers return 0 first).
    const std::size_t n = text.size(), m = search.size();
    if (n > kShortCountText || m > kShortSearchText || m + 7 > n) return kNotCounted;
    const bool fold = mode == CompareMode::TextCompare;
    return simd::WithKernel([&](auto kernel) noexcept {
        constexpr Kernel kKernel = decltype(kernel)::value;
        if constexpr (kKernel == Kernel::Scalar) {
            return kNotCounted;  // the plain loops are the definition
        } else {
            // Every vector kernel runs the same 16-byte steps.
            using Isa = simd::NarrowIsa<kKernel>;
            return fold ? CountShortWith<true, Isa>(text, search)
                        : CountShortWith<false, Isa>(text, search);
        }
    });
}

// What CountShort does not take: a Matcher's set-up, out of its way.
[[gnu::noinline]] std::size_t CountLonger(std::u16string_view texto, std::u16string_view procura,
                                          CompareMode mode) noexcept {
    return texto.size() <= kShortText ? CountByComparing(texto, procura, mode)
                                      : Matcher(procura, mode).Count(texto);
}

}  // namespace
}  // namespace palavox::detail

namespace palavox::ModPalavox {

std::size_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                             CompareMode mode) noexcept {
    if (texto.empty() || procura.empty()) return 0;
    // Counting matches left to right without overlap gives the same number as
    // removing them all and measuring the shrinkage, without the copy.
    if (const std::size_t count = detail::CountShort(texto, procura, mode);
        count != detail::kNotCounted) {
        return count;
    }
    return detail::CountLonger(texto, procura, mode);
}

struct Contador::Busca {
    Busca(std::u16string_view p, CompareMode m) noexcept : procura(p), mode(m), matcher(p, m) {}
    std::u16string_view procura;
    CompareMode mode;
    detail::Matcher matcher;
};

Contador::Contador(std::u16string_view procura, CompareMode mode)
    : busca_(procura.empty() ? nullptr : std::make_unique<const Busca>(procura, mode)) {}

Contador::~Contador() = default;

// ContaOcorrencias' choice, with the matcher already built.
std::size_t Contador::Conta(std::u16string_view texto) const noexcept {
    if (texto.empty() || busca_ == nullptr) return 0;
    if (const std::size_t count = detail::CountShort(texto, busca_->procura, busca_->mode);
        count != detail::kNotCounted) {
        return count;
    }
    return texto.size() <= detail::kShortText
               ? detail::CountByComparing(texto, busca_->procura, busca_->mode)
               : busca_->matcher.Count(texto);
}

}  // namespace palavox::ModPalavox
