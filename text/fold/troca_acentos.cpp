#include <cstddef>

#include "palavox/mod_palavox.hpp"
#include "simd/simd.hpp"
#include "primitives/text_writer.hpp"
#include "troca_acentos_table.hpp"
#define PALAVOX_KERNEL "fold/fold_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::ModPalavox {
namespace {

using detail::Kernel;
using detail::kFoldMap;

// Texts shorter than this fold in the 16-byte steps of every vector kernel.
constexpr std::size_t kShortFold = 64;

// Writes the folded text to `out`, which has room for all of it.
template <Kernel kKernel>
void Fold(std::u16string_view texto, char16_t* out) noexcept {
    const char16_t* const in = texto.data();
    const std::size_t n = texto.size();
    std::size_t i = 0;
    if constexpr (kKernel != Kernel::Scalar) {
        // A name or a title: a few 16-byte steps, with nothing to set up.
        if (n >= 8 && n < kShortFold) {
            FoldShortUnits(detail::simd::Isa<kKernel>{}, in, out, n);
            return;
        }
        i = FoldUnitBlocks(detail::simd::Isa<kKernel>{}, in, out, n);
    }
    for (; i < n; ++i) out[i] = in[i] < kFoldMap.size() ? kFoldMap[in[i]] : in[i];
}

void Fold(std::u16string_view texto, char16_t* out) noexcept {
    detail::simd::WithKernel([&](auto kernel) { Fold<kernel>(texto, out); });
}

}  // namespace

Text TrocaAcentos(std::u16string_view texto) {
    return detail::WrittenText(texto.size(), [&](char16_t* data) { Fold(texto, data); });
}

void TrocaAcentos(std::u16string_view texto, TextSink& resultado) {
    Fold(texto, resultado.Allocate(texto.size()));
}

// The kernel's choice in this frame: a name's fold is a few nanoseconds.
[[gnu::flatten]] void TrocaAcentos(std::u16string_view texto, char16_t* resultado) noexcept {
    Fold(texto, resultado);
}

}  // namespace palavox::ModPalavox
