// UTF-16 to UTF-8: the length pass, and the encoders with and without the
// check for unpaired surrogates.
#include <cstddef>

#include "simd/simd.hpp"
#include "utf8.hpp"
#include "utf8_steps.hpp"
#define PALAVOX_KERNEL "utf8/utf8_encode_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

template <Kernel kKernel>
std::size_t EncodedLengthWith(const char16_t* t, std::size_t n) noexcept {
    if constexpr (kKernel != Kernel::Scalar) {
        return EncodedLengthBlocks(detail::simd::Isa<kKernel>{}, t, n);
    } else {
        std::size_t i = 0;
        return LengthOf(t, n, n, i);
    }
}

template <Kernel kKernel, bool kChecked>
char* EncodeWith(std::u16string_view s, char* out) noexcept {
    const char16_t* p = s.data();
    const char16_t* const end = p + s.size();
    if constexpr (kKernel != Kernel::Scalar) {
        return EncodeBlocks<kChecked>(detail::simd::Isa<kKernel>{}, p, end, out);
    } else {
        while (p < end) {
            out = EncodeOne<kChecked>(p, end, out);
            if (kChecked && out == nullptr) return nullptr;
        }
        return out;
    }
}

}  // namespace

std::size_t EncodedLength(std::u16string_view s) noexcept {
    return detail::simd::WithKernel(
        [&](auto kernel) { return EncodedLengthWith<kernel>(s.data(), s.size()); });
}

char* Encode(std::u16string_view s, char* out) noexcept {
    return detail::simd::WithKernel([&](auto kernel) { return EncodeWith<kernel, false>(s, out); });
}

char* EncodeCodePoint(char32_t cp, char* out) noexcept {
    if (cp > 0x10FFFF || (cp & 0xFFFFF800) == 0xD800) return nullptr;
    if (cp > 0xFFFF) return EncodeFourBytes(cp, out);
    const char16_t unit = static_cast<char16_t>(cp);
    const char16_t* p = &unit;
    return EncodeOne<false>(p, p + 1, out);
}

char* EncodeChecked(std::u16string_view s, char* out) noexcept {
    return detail::simd::WithKernel([&](auto kernel) { return EncodeWith<kernel, true>(s, out); });
}

}  // namespace palavox::utf8
