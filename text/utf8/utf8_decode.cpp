// UTF-8 to UTF-16, and checking UTF-8 without decoding it. Whatever the
// kernel, the plain loop decides every sequence that is not ASCII or two
// bytes long, and every invalid one: the vector paths only take blocks they
// can prove valid, so they never decide where decoding stops.
#include <cstddef>

#include "simd/simd.hpp"
#include "utf8.hpp"
#include "utf8_steps.hpp"
#define PALAVOX_KERNEL "utf8/utf8_decode_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

// ASCII texts of this many bytes are checked (and widened) in two
// overlapping loads of the 16-byte set of every vector kernel.
constexpr std::size_t kShortMin = 8, kShortMax = 32;
// Texts of this many bytes of ASCII and two-byte sequences are checked in
// overlapping sixteen-byte windows, before a block of the wider kernels would
// take them.
constexpr std::size_t kShortTwoByte = 128;
template <Kernel kKernel>
using Narrow = detail::simd::NarrowIsa<kKernel>;

template <Kernel kKernel>
Decoded DecodeWith(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
    std::size_t i = 0, o = 0;
    Decoded stopped;
    if constexpr (kKernel != Kernel::Scalar) {
        // A name or a row in ASCII: two overlapping loads say so, and widen it.
        if (n >= kShortMin && n <= kShortMax && ShortAscii(Narrow<kKernel>{}, p, n)) {
            WidenShortAscii(Narrow<kKernel>{}, p, n, out);
            return {n, n, false};
        }
        if (!DecodeBlocks(detail::simd::Isa<kKernel>{}, p, n, out, i, o, stopped)) return stopped;
    }
    if (!Sequences<true>(p, n, n, i, o, out, stopped)) return stopped;
    return {n, o, false};
}

template <Kernel kKernel>
Decoded ValidateWith(const unsigned char* p, std::size_t n) noexcept {
    std::size_t i = 0, o = 0;
    Decoded stopped;
    if constexpr (kKernel != Kernel::Scalar) {
        if (n >= kShortMin && n <= kShortTwoByte && ShortTwoByte(Narrow<kKernel>{}, p, n)) {
            return {n, 0, false};
        }
        if (!ValidateBlocks(detail::simd::Isa<kKernel>{}, p, n, i, stopped)) return stopped;
    }
    if (!Sequences<false>(p, n, n, i, o, nullptr, stopped)) return stopped;
    return {n, 0, false};
}

}  // namespace

Decoded Decode(std::string_view s, char16_t* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return detail::simd::WithKernel(
        [&](auto kernel) { return DecodeWith<kernel>(p, s.size(), out); });
}

Decoded ValidateNonEmpty(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return detail::simd::WithKernel([&](auto kernel) { return ValidateWith<kernel>(p, s.size()); });
}

}  // namespace palavox::utf8
