// The kernels of palavox_units.h: the plain loops, which define them, and
// each instruction set's block loops (units_blocks.hpp).
#include "palavox_units.h"

#include <cstddef>
#include <cstdint>

#include "simd/simd.hpp"
#include "utf8/utf8.hpp"
#define PALAVOX_KERNEL "units/units_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::units {
namespace {

using detail::Kernel;

// The module's storage is uint16_t, the loops' char16_t: the same size,
// alignment and representation, and no unit sees the same storage as both.
static_assert(sizeof(char16_t) == sizeof(std::uint16_t) &&
              alignof(char16_t) == alignof(std::uint16_t));

template <Kernel k>
void Widen(const std::uint8_t* in, std::size_t n, std::uint16_t* units) noexcept {
    auto* out = reinterpret_cast<char16_t*>(units);
    if constexpr (k != Kernel::Scalar) {
        WidenBlocks(detail::simd::Isa<k>{}, in, n, out);
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
    }
}

template <Kernel k>
void Narrow(const std::uint16_t* units, std::size_t n, std::uint8_t* out) noexcept {
    const auto* in = reinterpret_cast<const char16_t*>(units);
    if constexpr (k != Kernel::Scalar) {
        NarrowBlocks(detail::simd::Isa<k>{}, in, n, out);
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(in[i]);
    }
}

template <Kernel k>
void Unite(const std::uint16_t* a16, const std::uint16_t* b16, std::size_t n, std::uint16_t* bits,
           std::uint16_t* differ) noexcept {
    const auto* a = reinterpret_cast<const char16_t*>(a16);
    const auto* b = reinterpret_cast<const char16_t*>(b16);
    if constexpr (k != Kernel::Scalar) {
        if (n >= 8) {
            UniteBlocks(detail::simd::Isa<k>{}, a, b, n, *bits, *differ);
            return;
        }
    }
    unsigned all = 0, differs = 0;  // locals: the loop stays in registers
    for (std::size_t i = 0; i < n; ++i) {
        all |= a[i];
        differs |= static_cast<unsigned>(a[i] ^ b[i]);
    }
    *bits = static_cast<std::uint16_t>(all);
    *differ = static_cast<std::uint16_t>(differs);
}

// The codec runs the kernel of its own choice, which is the same one.
std::ptrdiff_t DecodeUtf8(const char* in, std::size_t n, std::uint16_t* units) noexcept {
    const utf8::Decoded d = utf8::Decode({in, n}, reinterpret_cast<char16_t*>(units));
    return d.valid == n ? static_cast<std::ptrdiff_t>(d.units) : -1;
}

std::ptrdiff_t EncodeUtf8(const std::uint16_t* units, std::size_t n, char* out) noexcept {
    const char* end = utf8::EncodeChecked({reinterpret_cast<const char16_t*>(units), n}, out);
    return end == nullptr ? -1 : end - out;
}

// Plain loops, which the compiler vectorises: a unit for each byte that does
// not continue a sequence, and one more for each four-byte lead.
std::size_t Utf8Units(const char* in, std::size_t n) noexcept {
    std::size_t units = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(in[i]);
        units += (b & 0xC0) != 0x80;
        units += b >= 0xF0;
    }
    return units;
}

// One byte, two from U+0080, three from U+0800; a pair's halves two each.
std::size_t Utf8Length(const std::uint16_t* in, std::size_t n) noexcept {
    std::size_t bytes = n;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned u = in[i];
        bytes += std::size_t{u >= 0x80} + std::size_t{u >= 0x800};
        bytes -= std::size_t{(u & 0xF800) == 0xD800};
    }
    return bytes;
}

template <Kernel k>
constexpr pvx_unit_loops kLoops = {Widen<k>,   Narrow<k>, Unite<k>,  DecodeUtf8,
                                   EncodeUtf8, Utf8Units, Utf8Length};

}  // namespace
}  // namespace palavox::units

extern "C" const pvx_unit_loops* pvx_units(void) {
    return palavox::detail::simd::WithKernel(
        [](auto kernel) { return &palavox::units::kLoops<kernel>; });
}
