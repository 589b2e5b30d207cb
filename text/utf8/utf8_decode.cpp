// UTF-8 to UTF-16, and checking UTF-8 without decoding it. Whatever the
// kernel, the plain loop decides every sequence that is not ASCII or two
// bytes long, and every invalid one: the vector paths only take blocks they
// can prove valid, so they never decide where decoding stops.
#include <array>
#include <bit>
#include <cstdint>

#include "simd.hpp"
#include "utf8.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

// Which bytes may follow a lead byte second: this rules out overlong forms,
// encoded surrogates and code points past U+10FFFF.
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

static_assert([] {
    for (unsigned b = 0; b < 256; ++b) {
        if (LeadOf(static_cast<unsigned char>(b)).length !=
            SequenceLength(static_cast<unsigned char>(b)))
            return false;
    }
    return true;
}());

// Sequence by sequence from p[i] while i < stop (stop <= n), writing units
// when kWrite. False at an invalid sequence or one cut short by the end, with
// `stopped` saying which and where.
template <bool kWrite>
bool Sequences(const unsigned char* p, std::size_t n, std::size_t stop, std::size_t& i,
               std::size_t& o, char16_t* out, Decoded& stopped) noexcept {
    while (i < stop) {
        const unsigned b = p[i];
        if (b < 0x80) {
            if constexpr (kWrite) out[o] = static_cast<char16_t>(b);
            ++o;
            ++i;
            continue;
        }
        const Lead lead = LeadOf(static_cast<unsigned char>(b));
        if (lead.length == 0) {
            stopped = {i, kWrite ? o : 0, false};
            return false;
        }
        for (std::size_t k = 1; k < lead.length; ++k) {
            if (i + k >= n) {
                stopped = {i, kWrite ? o : 0, true};
                return false;
            }
            const unsigned c = p[i + k];
            const bool ok = k == 1 ? (c >= lead.low && c <= lead.high) : (c & 0xC0) == 0x80;
            if (!ok) {
                stopped = {i, kWrite ? o : 0, false};
                return false;
            }
        }
        if constexpr (kWrite) {
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
        }
        i += lead.length;
    }
    return true;
}

#if PALAVOX_SSE2
// Sixteen ASCII bytes widened, or false.
inline bool AsciiSse2(const unsigned char* p, char16_t* out) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(v) != 0) return false;
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
    return true;
}
#endif

#if PALAVOX_AVX2
// Eight 16-bit lanes, some of them kept: a byte shuffle that moves the kept
// ones to the front, by the mask of kept lanes.
struct LaneShuffle {
    unsigned char index[16];
};

constexpr std::array<LaneShuffle, 256> kKeepLanes = [] {
    std::array<LaneShuffle, 256> table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        unsigned k = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if ((keep >> lane & 1) == 0) continue;
            table[keep].index[k++] = static_cast<unsigned char>(2 * lane);
            table[keep].index[k++] = static_cast<unsigned char>(2 * lane + 1);
        }
        while (k < 16) table[keep].index[k++] = 0x80;
    }
    return table;
}();

// Per byte of `v`: a continuation byte, the lead of a two-byte sequence, and
// what the two-byte path cannot take (a longer sequence's lead, an overlong lead).
struct Classes16 {
    __m128i cont, lead, unsupported;
};
struct Classes32 {
    __m256i cont, lead, unsupported;
};

PALAVOX_TARGET_AVX2 inline Classes16 Classify(__m128i v) noexcept {
    return {_mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xC0))),
                           _mm_set1_epi8(static_cast<char>(0x80))),
            _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xE0))),
                           _mm_set1_epi8(static_cast<char>(0xC0))),
            _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(static_cast<char>(0xE0))), v),
                         _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xFE))),
                                        _mm_set1_epi8(static_cast<char>(0xC0))))};
}

PALAVOX_TARGET_AVX2 inline Classes32 Classify(__m256i v) noexcept {
    return {_mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0xC0))),
                              _mm256_set1_epi8(static_cast<char>(0x80))),
            _mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0xE0))),
                              _mm256_set1_epi8(static_cast<char>(0xC0))),
            _mm256_or_si256(
                _mm256_cmpeq_epi8(_mm256_max_epu8(v, _mm256_set1_epi8(static_cast<char>(0xE0))), v),
                _mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0xFE))),
                                  _mm256_set1_epi8(static_cast<char>(0xC0))))};
}

// Units for eight bytes: a two-byte sequence's where a lead is, the byte's own elsewhere.
PALAVOX_TARGET_AVX2 inline __m128i TwoByteLanes(__m128i bytes, __m128i following,
                                                __m128i isLead) noexcept {
    const __m128i x = _mm_cvtepu8_epi16(bytes);
    const __m128i two =
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(x, _mm_set1_epi16(0x1F)), 6),
                     _mm_and_si128(_mm_cvtepu8_epi16(following), _mm_set1_epi16(0x3F)));
    return _mm_blendv_epi8(x, two, _mm_cvtepi8_epi16(isLead));
}

PALAVOX_TARGET_AVX2 inline __m128i KeepLanes(unsigned keep) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeepLanes[keep].index));
}

// Sixteen bytes a turn of ASCII and two-byte sequences, at a fixed stride and
// without a branch on what the bytes are, so that turns overlap: in prose
// whether a block holds an accent is a coin toss. A lead in a block's last
// byte takes its trail from the next block, which checks it. Anything else
// goes to the plain loop, from the sequence's start. Output never runs ahead
// of input (no sequence has fewer bytes than units), so a store of k units
// where k bytes remain stays inside `out`.
PALAVOX_TARGET_AVX2 Decoded DecodeAvx2(const unsigned char* p, std::size_t n,
                                       char16_t* out) noexcept {
    std::size_t i = 0, o = 0;
    Decoded stopped;
    unsigned carried = 0;  // the block before ended on a lead, decoded with this block's first byte
    while (n - i >= 17) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const Classes16 c = Classify(v);
        const unsigned misplaced = static_cast<unsigned>(_mm_movemask_epi8(
                                       _mm_xor_si128(c.cont, _mm_slli_si128(c.lead, 1)))) ^
                                   carried;
        if ((static_cast<unsigned>(_mm_movemask_epi8(c.unsupported)) | misplaced) != 0) {
            i -= carried;
            o -= carried;
            if (!Sequences<true>(p, n, i + 16 + carried, i, o, out, stopped)) return stopped;
            carried = 0;
            continue;
        }
        const unsigned keep = ~static_cast<unsigned>(_mm_movemask_epi8(c.cont)) & 0xFFFF;
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 1));
        const __m128i low = TwoByteLanes(v, next, c.lead);
        const __m128i high =
            TwoByteLanes(_mm_srli_si128(v, 8), _mm_srli_si128(next, 8), _mm_srli_si128(c.lead, 8));
        const unsigned keepLow = keep & 0xFF, keepHigh = keep >> 8;
        const auto lowCount = static_cast<std::size_t>(std::popcount(keepLow));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o),
                         _mm_shuffle_epi8(low, KeepLanes(keepLow)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + lowCount),
                         _mm_shuffle_epi8(high, KeepLanes(keepHigh)));
        o += lowCount + static_cast<std::size_t>(std::popcount(keepHigh));
        carried = static_cast<unsigned>(_mm_movemask_epi8(c.lead)) >> 15;
        i += 16;
    }
    // A lead whose trail was not checked: the plain loop takes it again.
    i -= carried;
    o -= carried;
    if (!Sequences<true>(p, n, n, i, o, out, stopped)) return stopped;
    return {n, o, false};
}

// The same check without the units, thirty-two bytes a turn.
PALAVOX_TARGET_AVX2 Decoded ValidateAvx2(const unsigned char* p, std::size_t n) noexcept {
    std::size_t i = 0, o = 0;
    Decoded stopped;
    __m256i lead = _mm256_setzero_si256();  // of the block before
    while (n - i >= 32) {
        const Classes32 c = Classify(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i)));
        // The leads one byte on, the last of the block before first.
        const __m256i before =
            _mm256_alignr_epi8(c.lead, _mm256_permute2x128_si256(lead, c.lead, 0x21), 15);
        const __m256i bad = _mm256_or_si256(c.unsupported, _mm256_xor_si256(c.cont, before));
        if (_mm256_movemask_epi8(bad) != 0) {
            const std::size_t back = static_cast<unsigned>(_mm256_movemask_epi8(lead)) >> 31;
            i -= back;
            if (!Sequences<false>(p, n, i + 32 + back, i, o, nullptr, stopped)) return stopped;
            lead = _mm256_setzero_si256();
            continue;
        }
        lead = c.lead;
        i += 32;
    }
    i -= static_cast<unsigned>(_mm256_movemask_epi8(lead)) >> 31;
    if (!Sequences<false>(p, n, n, i, o, nullptr, stopped)) return stopped;
    return {n, 0, false};
}
#endif

template <Kernel kKernel>
Decoded DecodeWith(const unsigned char* p, std::size_t n, char16_t* out) noexcept {
#if PALAVOX_AVX2
    if constexpr (kKernel == Kernel::Avx2) return DecodeAvx2(p, n, out);
#endif
    std::size_t i = 0, o = 0;
    Decoded stopped;
#if PALAVOX_SSE2
    if constexpr (kKernel != Kernel::Scalar) {
        while (n - i >= 16) {
            if (AsciiSse2(p + i, out + o)) {
                i += 16;
                o += 16;
            } else if (!Sequences<true>(p, n, i + 16, i, o, out, stopped)) {
                return stopped;  // unit by unit up to the next sixteen-byte block
            }
        }
    }
#endif
    if (!Sequences<true>(p, n, n, i, o, out, stopped)) return stopped;
    return {n, o, false};
}

template <Kernel kKernel>
Decoded ValidateWith(const unsigned char* p, std::size_t n) noexcept {
#if PALAVOX_AVX2
    if constexpr (kKernel == Kernel::Avx2) return ValidateAvx2(p, n);
#endif
    std::size_t i = 0, o = 0;
    Decoded stopped;
#if PALAVOX_SSE2
    if constexpr (kKernel != Kernel::Scalar) {
        while (n - i >= 16) {
            if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i))) == 0) {
                i += 16;
            } else if (!Sequences<false>(p, n, i + 16, i, o, nullptr, stopped)) {
                return stopped;
            }
        }
    }
#endif
    if (!Sequences<false>(p, n, n, i, o, nullptr, stopped)) return stopped;
    return {n, 0, false};
}

}  // namespace

Decoded Decode(std::string_view s, char16_t* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return detail::simd::WithKernel(
        [&](auto kernel) { return DecodeWith<kernel>(p, s.size(), out); });
}

Decoded Validate(std::string_view s) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    return detail::simd::WithKernel([&](auto kernel) { return ValidateWith<kernel>(p, s.size()); });
}

}  // namespace palavox::utf8
