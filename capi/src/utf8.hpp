// UTF-8 <-> UTF-16 for the C interface and the command. Strict: overlong
// forms, encoded surrogates and anything past U+10FFFF are invalid, as are
// unpaired surrogates on the way out, since UTF-8 cannot carry them.
// Plain C++20 and, where the compiler targets it, SSE2 for runs of ASCII.
// Internal to capi/ and cli/.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// SSE2 where the compiler targets it; SSSE3 (a byte shuffle for accented
// text) chosen at run time where GCC or clang can build it for one function.
#if defined(__SSE2__) && !defined(PALAVOX_NO_SIMD)
#define PALAVOX_UTF8_SSE2 1
#include <emmintrin.h>
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define PALAVOX_UTF8_SSSE3 1
#include <tmmintrin.h>
#endif
#endif

namespace palavox::utf8 {

// Where decoding stopped.
struct Decoded {
    std::size_t valid = 0;   // bytes of whole, valid sequences from the start
    std::size_t units = 0;   // UTF-16 units written for them
    bool truncated = false;  // the rest is a valid sequence cut short by the end
};

namespace detail {

// Length of the sequence a lead byte starts (0: cannot start one) and the
// range its second byte must lie in, which is what rules out overlong forms,
// surrogates and code points past U+10FFFF.
struct Lead {
    unsigned char length, low, high;
};

constexpr Lead LeadOf(unsigned char b) noexcept {
    if (b < 0x80) return {1, 0, 0};
    if (b < 0xC2) return {0, 0, 0};
    if (b < 0xE0) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b < 0xF0) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b < 0xF4) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace detail

// Decodes the longest valid prefix of `s`. `out` has room for s.size() units,
// which is always enough: no sequence gives more units than it has bytes.
inline Decoded Decode(std::string_view s, char16_t* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    std::size_t i = 0, o = 0;
    while (i < n) {
#if PALAVOX_UTF8_SSE2
        // Sixteen bytes widened at once; past the first non-ASCII byte the
        // units written are rewritten below. Output never runs ahead of input,
        // so the stores stay inside `out`.
        if (n - i >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 8), _mm_unpackhi_epi8(v, zero));
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(v));
            const unsigned ascii = mask == 0 ? 16 : static_cast<unsigned>(std::countr_zero(mask));
            i += ascii;
            o += ascii;
            if (mask == 0) continue;
        }
#endif
        const unsigned b = p[i];
        if (b < 0x80) {
            out[o++] = static_cast<char16_t>(b);
            ++i;
            continue;
        }
        const detail::Lead lead = detail::LeadOf(static_cast<unsigned char>(b));
        if (lead.length == 0) return {i, o, false};
        for (std::size_t k = 1; k < lead.length; ++k) {
            if (i + k >= n) return {i, o, true};
            const unsigned c = p[i + k];
            const bool ok = k == 1 ? (c >= lead.low && c <= lead.high) : (c & 0xC0) == 0x80;
            if (!ok) return {i, o, false};
        }
        if (lead.length == 2) {
            out[o++] = static_cast<char16_t>((b & 0x1F) << 6 | (p[i + 1] & 0x3Fu));
        } else if (lead.length == 3) {
            out[o++] = static_cast<char16_t>((b & 0x0F) << 12 | (p[i + 1] & 0x3Fu) << 6 |
                                             (p[i + 2] & 0x3Fu));
        } else {
            const std::uint32_t cp = ((b & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12 |
                                      (p[i + 2] & 0x3Fu) << 6 | (p[i + 3] & 0x3Fu)) -
                                     0x10000;
            out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        }
        i += lead.length;
    }
    return {n, o, false};
}

inline constexpr std::size_t kUnpaired = static_cast<std::size_t>(-1);

// Bytes the UTF-8 form of `s` takes, or kUnpaired for an unpaired surrogate.
inline std::size_t EncodedLength(std::u16string_view s) noexcept {
    const char16_t* const t = s.data();
    const std::size_t n = s.size();
    std::size_t bytes = 0, i = 0;
    while (i < n) {
#if PALAVOX_UTF8_SSE2
        // Eight units at a time: one byte each, one more from U+0080, one
        // more from U+0800; a block holding a surrogate goes unit by unit.
        if (n - i >= 8) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
            const __m128i zero = _mm_setzero_si128();
            const __m128i high5 = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800)));
            const __m128i surrogate =
                _mm_cmpeq_epi16(high5, _mm_set1_epi16(static_cast<short>(0xD800)));
            if (_mm_movemask_epi8(surrogate) == 0) {
                const __m128i low = _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80)));
                // Per lane 3 + (-1 below U+0080) + (-1 below U+0800): its byte count.
                const __m128i lane = _mm_add_epi16(
                    _mm_set1_epi16(3),
                    _mm_add_epi16(_mm_cmpeq_epi16(low, zero), _mm_cmpeq_epi16(high5, zero)));
                // Summed as four 32-bit sums of pairs of lanes, then across.
                __m128i sum = _mm_madd_epi16(lane, _mm_set1_epi16(1));
                sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
                sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
                bytes += static_cast<std::size_t>(_mm_cvtsi128_si32(sum));
                i += 8;
                continue;
            }
        }
#endif
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

namespace detail {

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
        const std::uint32_t cp = 0x10000 + ((u - 0xD800) << 10) + (*p++ - 0xDC00u);
        *out++ = static_cast<char>(0xF0 | cp >> 18);
        *out++ = static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *out++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return out;
}

#if PALAVOX_UTF8_SSE2
// Eight units: stores their bytes if all are ASCII (eight bytes), else the
// bytes of the ASCII run they start with; returns the run's length. At
// least as many bytes of room remain as units, so the store stays in `out`.
inline unsigned EncodeAsciiRun(__m128i v, char* out) noexcept {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(v, v));
    const auto ascii = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(
        _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), _mm_setzero_si128())));
    return static_cast<unsigned>(std::countr_one(ascii)) / 2;
}
#endif

template <bool kChecked>
inline char* Encode(std::u16string_view s, char* out) noexcept {
    const char16_t* p = s.data();
    const char16_t* const end = p + s.size();
    while (p < end) {
#if PALAVOX_UTF8_SSE2
        if (end - p >= 8) {
            const unsigned run =
                EncodeAsciiRun(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), out);
            p += run;
            out += run;
            if (run == 8) continue;
        }
#endif
        out = EncodeOne<kChecked>(p, end, out);
        if (kChecked && out == nullptr) return nullptr;
    }
    return out;
}

#if PALAVOX_UTF8_SSSE3
inline bool HasSsse3() noexcept {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

// Eight units below U+0800 written two bytes a lane, lead then trail byte
// (ASCII lanes: the unit, then a byte to drop): which bytes to keep, in order,
// for each set of ASCII lanes, and how many.
struct Compaction {
    unsigned char keep[16];
    unsigned char length;
};

inline constexpr std::array<Compaction, 256> kCompaction = [] {
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

// The same as Encode, with eight units below U+0800 at a time (accented
// Latin text) through one byte shuffle. Needs 16 bytes of room, so only
// while 16 units remain.
template <bool kChecked>
__attribute__((target("ssse3"))) char* EncodeSsse3(std::u16string_view s, char* out) noexcept {
    const char16_t* p = s.data();
    const char16_t* const end = p + s.size();
    const __m128i zero = _mm_setzero_si128();
    while (p < end) {
        if (end - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i ascii =
                _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
            const __m128i below800 =
                _mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xF800))), zero);
            if (_mm_movemask_epi8(below800) == 0xFFFF) {
                const __m128i lead = _mm_or_si128(_mm_srli_epi16(v, 6), _mm_set1_epi16(0xC0));
                const __m128i trail =
                    _mm_or_si128(_mm_and_si128(v, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
                const __m128i pairs = _mm_or_si128(lead, _mm_slli_epi16(trail, 8));
                const __m128i bytes =
                    _mm_or_si128(_mm_and_si128(ascii, v), _mm_andnot_si128(ascii, pairs));
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
            const unsigned run = EncodeAsciiRun(v, out);
            p += run;
            out += run;
        }
        out = EncodeOne<kChecked>(p, end, out);
        if (kChecked && out == nullptr) return nullptr;
    }
    return out;
}
#endif

template <bool kChecked>
inline char* EncodeBest(std::u16string_view s, char* out) noexcept {
#if PALAVOX_UTF8_SSSE3
    if (HasSsse3()) return EncodeSsse3<kChecked>(s, out);
#endif
    return Encode<kChecked>(s, out);
}

}  // namespace detail

// Encodes units whose EncodedLength is not kUnpaired into exactly that many
// bytes; returns their end.
inline char* Encode(std::u16string_view s, char* out) noexcept {
    return detail::EncodeBest<false>(s, out);
}

// One pass where the exact size is not needed: `out` has room for three
// bytes a unit. Returns the end of the bytes, or nullptr at an unpaired surrogate.
inline char* EncodeChecked(std::u16string_view s, char* out) noexcept {
    return detail::EncodeBest<true>(s, out);
}

}  // namespace palavox::utf8
