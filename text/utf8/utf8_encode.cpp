// UTF-16 to UTF-8: the length pass, and the encoders with and without the
// check for unpaired surrogates.
#include <array>
#include <bit>
#include <cstdint>

#include "simd.hpp"
#include "utf8.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

// The plain length pass from t[i] while i < stop; kUnpaired at an unpaired surrogate.
inline std::size_t LengthOf(const char16_t* t, std::size_t n, std::size_t stop,
                            std::size_t& i) noexcept {
    std::size_t bytes = 0;
    while (i < stop) {
        const char16_t u = t[i++];
        if (u < 0x80) {
            bytes += 1;
        } else if (u < 0x800) {
            bytes += 2;
        } else if ((u & 0xF800) != 0xD800) {
            bytes += 3;
        } else if (u < 0xDC00 && i < n && (t[i] & 0xFC00) == 0xDC00) {
            bytes += 4;
            ++i;
        } else {
            return kUnpaired;
        }
    }
    return bytes;
}

#if PALAVOX_SSE2
// Bytes of eight units holding no surrogate, or kUnpaired when they hold one
// (and go unit by unit). Per lane 3 + (-1 below U+0080) + (-1 below U+0800).
inline std::size_t LengthSse2(const char16_t* t) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
    const __m128i zero = _mm_setzero_si128();
    const __m128i high5 = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800)));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(high5, _mm_set1_epi16(static_cast<short>(0xD800)))) !=
        0) {
        return kUnpaired;
    }
    const __m128i low = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
    const __m128i lane = _mm_add_epi16(
        _mm_set1_epi16(3), _mm_add_epi16(_mm_cmpeq_epi16(low, zero), _mm_cmpeq_epi16(high5, zero)));
    // Summed as four 32-bit sums of pairs of lanes, then across.
    __m128i sum = _mm_madd_epi16(lane, _mm_set1_epi16(1));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
    return static_cast<std::size_t>(_mm_cvtsi128_si32(sum));
}
#endif

#if PALAVOX_AVX2
// The same for sixteen units.
PALAVOX_TARGET_AVX2 inline std::size_t LengthAvx2(const char16_t* t) noexcept {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t));
    const __m256i zero = _mm256_setzero_si256();
    const __m256i high5 = _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xF800)));
    if (_mm256_movemask_epi8(
            _mm256_cmpeq_epi16(high5, _mm256_set1_epi16(static_cast<short>(0xD800)))) != 0) {
        return kUnpaired;
    }
    const __m256i low = _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xFF80)));
    const __m256i lane = _mm256_add_epi16(
        _mm256_set1_epi16(3),
        _mm256_add_epi16(_mm256_cmpeq_epi16(low, zero), _mm256_cmpeq_epi16(high5, zero)));
    const __m256i pairs = _mm256_madd_epi16(lane, _mm256_set1_epi16(1));
    __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
    sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
    return static_cast<std::size_t>(_mm_cvtsi128_si32(sum));
}

PALAVOX_TARGET_AVX2 std::size_t EncodedLengthAvx2(const char16_t* t, std::size_t n) noexcept {
    std::size_t bytes = 0, i = 0;
    while (i < n) {
        if (n - i >= 16) {
            if (const std::size_t block = LengthAvx2(t + i); block != kUnpaired) {
                bytes += block;
                i += 16;
                continue;
            }
        }
        // One unit, or a pair, then the blocks again.
        const std::size_t one = LengthOf(t, n, i + 1, i);
        if (one == kUnpaired) return kUnpaired;
        bytes += one;
    }
    return bytes;
}
#endif

template <Kernel kKernel>
std::size_t EncodedLengthWith(const char16_t* t, std::size_t n) noexcept {
#if PALAVOX_AVX2
    if constexpr (kKernel == Kernel::Avx2) return EncodedLengthAvx2(t, n);
#endif
    std::size_t i = 0;
#if PALAVOX_SSE2
    if constexpr (kKernel != Kernel::Scalar) {
        std::size_t bytes = 0;
        while (i < n) {
            if (n - i >= 8) {
                if (const std::size_t block = LengthSse2(t + i); block != kUnpaired) {
                    bytes += block;
                    i += 8;
                    continue;
                }
            }
            const std::size_t one = LengthOf(t, n, i + 1, i);
            if (one == kUnpaired) return kUnpaired;
            bytes += one;
        }
        return bytes;
    }
#endif
    return LengthOf(t, n, n, i);
}

// A code point past U+FFFF.
inline char* EncodeFourBytes(std::uint32_t cp, char* out) noexcept {
    *out++ = static_cast<char>(0xF0 | cp >> 18);
    *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    return out;
}

// One code point from `p`, which it advances. kChecked: nullptr at an
// unpaired surrogate instead of trusting EncodedLength to have ruled them out.
template <bool kChecked>
inline char* EncodeOne(const char16_t*& p, const char16_t* end, char* out) noexcept {
    const std::uint32_t u = *p++;
    if (u < 0x80) {
        *out++ = static_cast<char>(u);
    } else if (u < 0x800) {
        *out++ = static_cast<char>(0xC0 | u >> 6);
        *out++ = static_cast<char>(0x80 | (u & 0x3F));
    } else if ((u & 0xF800) != 0xD800) {
        *out++ = static_cast<char>(0xE0 | u >> 12);
        *out++ = static_cast<char>(0x80 | (u >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
        if (kChecked && (u >= 0xDC00 || p == end || (*p & 0xFC00) != 0xDC00)) return nullptr;
        return EncodeFourBytes(0x10000 + ((u - 0xD800) << 10) + (*p++ - 0xDC00u), out);
    }
    return out;
}

#if PALAVOX_SSE2
// Eight units: stores their bytes if all are ASCII (eight bytes), else the
// bytes of the ASCII run they start with; returns the run's length. At
// least as many bytes of room remain as units, so the store stays in `out`.
inline unsigned AsciiRun(__m128i v, char* out) noexcept {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
    const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(
        _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), _mm_setzero_si128())));
    return static_cast<unsigned>(std::countr_one(ascii)) / 2;
}
#endif

#if PALAVOX_AVX2
// Eight units below U+0800 written two bytes a lane, lead then trail byte
// (ASCII lanes: the unit, then a byte to drop): which bytes to keep, in order,
// for each set of ASCII lanes, and how many.
struct Compaction {
    unsigned char keep[16];
    unsigned char length;
};

constexpr std::array<Compaction, 256> kCompaction = [] {
    std::array<Compaction, 256> table{};
    for (unsigned ascii = 0; ascii < 256; ++ascii) {
        unsigned k = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            table[ascii].keep[k++] = static_cast<unsigned char>(2 * lane);
            if ((ascii >> lane & 1) == 0)
                table[ascii].keep[k++] = static_cast<unsigned char>(2 * lane + 1);
        }
        table[ascii].length = static_cast<unsigned char>(k);
        while (k < 16) table[ascii].keep[k++] = 0x80;  // shuffles in a zero
    }
    return table;
}();

// Eight units below U+0800 (accented Latin text) through one byte shuffle,
// sixteen ASCII units in one pack. Needs 16 bytes of room, so only while 16
// units remain.
template <bool kChecked>
PALAVOX_TARGET_AVX2 char* EncodeAvx2(const char16_t* p, const char16_t* end, char* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    while (p < end) {
        if (end - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
            const __m128i nonAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
            if (_mm_testz_si128(_mm_or_si128(v, w), nonAscii)) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, w));
                p += 16;
                out += 16;
                continue;
            }
            const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(v, nonAscii), zero);
            if (_mm_testz_si128(v, _mm_set1_epi16(static_cast<short>(0xF800)))) {
                const __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0xC0));
                const __m128i trail =
                    _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
                const __m128i pairs = _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
                const __m128i bytes = _mm_blendv_epi8(pairs, v, ascii);
                const Compaction& c = kCompaction[static_cast<unsigned>(
                    _mm_movemask_epi8(_mm_packs_epi16(ascii, zero)))];
                _mm_storeu_si128(
                    reinterpret_cast<__m128i*>(out),
                    _mm_shuffle_epi8(bytes,
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.keep))));
                p += 8;
                out += c.length;
                continue;
            }
            const unsigned run = AsciiRun(v, out);
            p += run;
            out += run;
        }
        out = EncodeOne<kChecked>(p, end, out);
        if (kChecked && out == nullptr) return nullptr;
    }
    return out;
}
#endif

template <Kernel kKernel, bool kChecked>
char* EncodeWith(std::u16string_view s, char* out) noexcept {
    const char16_t* p = s.data();
    const char16_t* const end = p + s.size();
#if PALAVOX_AVX2
    if constexpr (kKernel == Kernel::Avx2) return EncodeAvx2<kChecked>(p, end, out);
#endif
    while (p < end) {
#if PALAVOX_SSE2
        if constexpr (kKernel != Kernel::Scalar) {
            if (end - p >= 8) {
                const unsigned run =
                    AsciiRun(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), out);
                p += run;
                out += run;
                if (run == 8) continue;
            }
        }
#endif
        out = EncodeOne<kChecked>(p, end, out);
        if (kChecked && out == nullptr) return nullptr;
    }
    return out;
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
