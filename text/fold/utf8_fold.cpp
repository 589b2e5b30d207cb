// Accent folding on UTF-8, from the routine's own table: an ASCII byte maps
// to an ASCII byte, a two-byte sequence for U+0080..U+00FF (lead C2 or C3)
// to the single ASCII byte its code point folds to, or stays; nothing else
// changes (FoldUtf8One, troca_acentos_table.hpp).
#include <cstddef>

#include "simd/simd.hpp"
#include "troca_acentos_table.hpp"
#include "utf8_fold.hpp"
#define PALAVOX_KERNEL "fold/fold_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

// Texts shorter than this (in bytes) fold sixteen bytes a turn, where a
// wider kernel's blocks would leave most of them to the plain loop.
constexpr std::size_t kShortUtf8 = 64;

template <Kernel kKernel>
char* FoldWith(const unsigned char* p, std::size_t n, char* out) noexcept {
    std::size_t i = 0;
    if constexpr (kKernel != Kernel::Scalar) {
        using Isa = detail::simd::Isa<kKernel>;
        out = n < kShortUtf8 ? FoldUtf8ShortBlocks(Isa{}, p, n, i, out)
                             : FoldUtf8Blocks(Isa{}, p, n, i, out);
    }
    while (i < n) detail::FoldUtf8One(p, n, i, out);
    return out;
}

// Checks and folds in one pass: nullptr at invalid UTF-8. A short text in
// ASCII (a name, a row) is two or a few overlapping steps; one with accents
// goes code point by code point, where a vector block would cost more to set
// up than the few bytes it takes.
template <Kernel kKernel>
char* CheckedFoldWith(const unsigned char* p, std::size_t n, char* out) noexcept {
    std::size_t i = 0;
    if constexpr (kKernel != Kernel::Scalar) {
        if (n < kShortUtf8) {
            if (n >= 8 && FoldShortAscii(detail::simd::NarrowIsa<kKernel>{}, p, n, out)) {
                return out + n;
            }
            out = FoldUtf8CheckedShortBlocks(detail::simd::Isa<kKernel>{}, p, n, i, out);
            if (out == nullptr) return nullptr;
        } else {
            out = FoldUtf8CheckedBlocks(detail::simd::Isa<kKernel>{}, p, n, i, out);
            if (out == nullptr) return nullptr;
        }
    }
    while (i < n) {
        if (!detail::FoldUtf8Checked(p, n, i, out)) return nullptr;
    }
    return out;
}

}  // namespace

char* TrocaAcentos(std::string_view texto, char* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(texto.data());
    return detail::simd::WithKernel(
        [&](auto kernel) { return FoldWith<kernel>(p, texto.size(), out); });
}

char* TrocaAcentosChecked(std::string_view texto, char* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(texto.data());
    return detail::simd::WithKernel(
        [&](auto kernel) { return CheckedFoldWith<kernel>(p, texto.size(), out); });
}

}  // namespace palavox::utf8
