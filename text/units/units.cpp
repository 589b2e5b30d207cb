// The kernels of palavox_units.h: the plain loops, which define them, and
// each instruction set's block loops (units_blocks.hpp).
#include "palavox_units.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Counted eight bytes (four units) a step in a 64-bit word, for every
// kernel alike: -O2 leaves a plain loop over bytes scalar, and these run once
// for each row of a column (~1 ns a byte before). A flag is a lane's top bit;
// a word's flags summed by one multiplication. A row's last step reloads its
// last word and drops the lanes already counted: no loop over the tail.
constexpr std::uint64_t kByteTops = 0x8080808080808080u;
constexpr std::uint64_t kUnitTops = 0x8000800080008000u;

inline std::uint64_t Word(const void* p) noexcept {
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

// The flags of byte lanes (bit 7) or unit lanes (bit 15) summed.
inline std::size_t ByteFlags(std::uint64_t m) noexcept {
    return static_cast<std::size_t>(((m >> 7) * 0x0101010101010101u) >> 56);
}
inline std::size_t UnitFlags(std::uint64_t m) noexcept {
    return static_cast<std::size_t>(((m >> 15) * 0x0001000100010001u) >> 48);
}

// Units of eight bytes, minus one for each byte that continues a sequence
// (10xxxxxx) and plus one for each four-byte lead (11110xxx): what the lanes
// give beyond one unit a byte. A zero lane gives nothing.
inline std::ptrdiff_t ExtraUnits(std::uint64_t x) noexcept {
    const std::uint64_t continues = x & ~(x << 1) & kByteTops;
    const std::uint64_t fours = x & (x << 1) & (x << 2) & (x << 3) & kByteTops;
    return static_cast<std::ptrdiff_t>(ByteFlags(fours)) -
           static_cast<std::ptrdiff_t>(ByteFlags(continues));
}

// Lanes whose unit is not zero, as flags.
inline std::uint64_t NonZero(std::uint64_t t) noexcept {
    constexpr std::uint64_t low = ~kUnitTops;
    return (((t & low) + low) | t) & kUnitTops;
}

// Bytes of four units beyond one a unit: +1 from U+0080, +1 from U+0800, -1
// for a surrogate (a pair's halves are two bytes each). A zero lane gives nothing.
inline std::ptrdiff_t ExtraBytes(std::uint64_t x) noexcept {
    const std::uint64_t two = NonZero(x & 0xFF80FF80FF80FF80u);
    const std::uint64_t three = NonZero(x & 0xF800F800F800F800u);
    const std::uint64_t surrogate =
        ~NonZero((x ^ 0xD800D800D800D800u) & 0xF800F800F800F800u) & kUnitTops;
    return static_cast<std::ptrdiff_t>(UnitFlags(two) + UnitFlags(three)) -
           static_cast<std::ptrdiff_t>(UnitFlags(surrogate));
}

// A word reloaded at a row's end, its first `dropped_bytes` (counted already)
// shifted out: zero lanes, which count nothing.
inline std::uint64_t Last(std::uint64_t x, std::size_t dropped_bytes) noexcept {
    if constexpr (std::endian::native == std::endian::little) {
        return x >> (8 * dropped_bytes);
    } else {
        return x << (8 * dropped_bytes);
    }
}

// A unit for each byte that does not continue a sequence, and one more for
// each four-byte lead.
template <Kernel k>
std::size_t Utf8Units(const char* in, std::size_t n) noexcept {
    if constexpr (k != Kernel::Scalar) {
        if (n >= 16) {
            return static_cast<std::size_t>(
                static_cast<std::ptrdiff_t>(n) +
                ExtraUnitsBlocks(detail::simd::Isa<k>{}, reinterpret_cast<const unsigned char*>(in),
                                 n));
        }
    }
    if (n < 8) {
        std::size_t units = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const auto b = static_cast<unsigned char>(in[i]);
            units += std::size_t{(b & 0xC0) != 0x80} + std::size_t{b >= 0xF0};
        }
        return units;
    }
    std::ptrdiff_t extra = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) extra += ExtraUnits(Word(in + i));
    if (i < n) extra += ExtraUnits(Last(Word(in + n - 8), 8 - (n - i)));
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(n) + extra);
}

// One byte, two from U+0080, three from U+0800; a pair's halves two each.
template <Kernel k>
std::size_t Utf8Length(const std::uint16_t* in, std::size_t n) noexcept {
    if constexpr (k != Kernel::Scalar) {
        if (n >= 8) {
            return static_cast<std::size_t>(
                static_cast<std::ptrdiff_t>(n) +
                ExtraBytesBlocks(detail::simd::Isa<k>{}, reinterpret_cast<const char16_t*>(in), n));
        }
    }
    if (n < 4) {
        std::size_t bytes = n;
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned u = in[i];
            bytes += std::size_t{u >= 0x80} + std::size_t{u >= 0x800};
            bytes -= std::size_t{(u & 0xF800) == 0xD800};
        }
        return bytes;
    }
    std::ptrdiff_t extra = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) extra += ExtraBytes(Word(in + i));
    if (i < n) extra += ExtraBytes(Last(Word(in + n - 4), 2 * (4 - (n - i))));
    return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(n) + extra);
}

// Rows end to end: the plain loops define it, row by row from the last end;
// the vector kernels read each block once, a row's end masking its lanes.
template <Kernel k>
void Utf8UnitsAt(const char* in, std::size_t n, std::int64_t* ends, std::size_t rows) noexcept {
    if constexpr (k != Kernel::Scalar) {
        Utf8UnitsAtBlocks(detail::simd::Isa<k>{}, reinterpret_cast<const unsigned char*>(in), n,
                          ends, rows);
    } else {
        std::size_t from = 0, units = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            const auto end = static_cast<std::size_t>(ends[r]);
            units += Utf8Units<k>(in + from, end - from);
            from = end;
            ends[r] = static_cast<std::int64_t>(units);
        }
    }
}

template <Kernel k>
void Utf8LengthAt(const std::uint16_t* in, std::size_t n, std::int64_t* ends,
                  std::size_t rows) noexcept {
    if constexpr (k != Kernel::Scalar) {
        Utf8LengthAtBlocks(detail::simd::Isa<k>{}, reinterpret_cast<const char16_t*>(in), n, ends,
                           rows);
    } else {
        std::size_t from = 0, bytes = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            const auto end = static_cast<std::size_t>(ends[r]);
            bytes += Utf8Length<k>(in + from, end - from);
            from = end;
            ends[r] = static_cast<std::int64_t>(bytes);
        }
    }
}

template <Kernel k>
constexpr pvx_unit_loops kLoops = {Widen<k>,      Narrow<k>,      Unite<k>,
                                   DecodeUtf8,    EncodeUtf8,     Utf8Units<k>,
                                   Utf8Length<k>, Utf8UnitsAt<k>, Utf8LengthAt<k>};

}  // namespace
}  // namespace palavox::units

extern "C" const pvx_unit_loops* pvx_units(void) {
    return palavox::detail::simd::WithKernel(
        [](auto kernel) { return &palavox::units::kLoops<kernel>; });
}
