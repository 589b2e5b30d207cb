// Accent folding on UTF-8, from the routine's own table: an ASCII byte maps
// to an ASCII byte, a two-byte sequence for U+0080..U+00FF (lead C2 or C3)
// to the single ASCII byte its code point folds to, or stays; nothing else
// changes.
#include <array>
#include <bit>
#include <cstdint>
#include <utility>

#include "simd.hpp"
#include "troca_acentos_table.hpp"
#include "utf8_routines.hpp"

namespace palavox::utf8 {
namespace {

using detail::Kernel;

// By code point below U+0100: the ASCII byte it folds to, or 0 where the table leaves it.
constexpr std::array<unsigned char, 256> kFolded = [] {
    std::array<unsigned char, 256> folded{};
    for (unsigned u = 0; u < 256; ++u) {
        const char16_t to = detail::kFoldMap[u];
        if (to == u) continue;
        if (to == 0 || to >= 0x80) throw "a row folds to something other than ASCII";
        folded[u] = static_cast<unsigned char>(to);
    }
    return folded;
}();

// Continuation bytes and longer sequences are looked up as U+0080, which stays.
constexpr unsigned char kStays = 0x80;
static_assert(kFolded[kStays] == 0);

// One code point from p[i] (p[i + 1] readable where p[i] is a lead).
inline void FoldOne(const unsigned char* p, std::size_t n, std::size_t& i, char*& out) noexcept {
    const unsigned b = p[i];
    if (b < 0x80) {
        *out++ = static_cast<char>(kFolded[b] != 0 ? kFolded[b] : b);
        ++i;
    } else if ((b & 0xFE) == 0xC2 && i + 1 < n) {
        const unsigned trail = p[i + 1];
        const unsigned folded = kFolded[(b & 1) << 6 | (trail & 0x3F) | 0x80];
        if (folded != 0) {
            *out++ = static_cast<char>(folded);
        } else {
            *out++ = static_cast<char>(b);
            *out++ = static_cast<char>(trail);
        }
        i += 2;
    } else {
        *out++ = static_cast<char>(b);
        ++i;
    }
}

#if PALAVOX_SSE2
// The ASCII bytes the table changes, as a few ranges of bytes (runs of them,
// gaps of up to three bytes bridged): what SSE2 can test sixteen at a time.
struct ByteRange {
    unsigned char lo, hi;
};

constexpr std::size_t kMaxGap = 3;

template <class Emit>
constexpr void AsciiRuns(Emit emit) {
    unsigned start = 0x100, last = 0;
    for (unsigned b = 0; b < 0x80; ++b) {
        if (kFolded[b] == 0) continue;
        if (start != 0x100 && b - last <= kMaxGap + 1) {
            last = b;
            continue;
        }
        if (start != 0x100) emit(start, last);
        start = last = b;
    }
    if (start != 0x100) emit(start, last);
}

constexpr std::size_t kRangeCount = [] {
    std::size_t count = 0;
    AsciiRuns([&](unsigned, unsigned) { ++count; });
    return count;
}();

constexpr std::array<ByteRange, kRangeCount> kRanges = [] {
    std::array<ByteRange, kRangeCount> ranges{};
    std::size_t k = 0;
    AsciiRuns([&](unsigned lo, unsigned hi) {
        ranges[k++] = {static_cast<unsigned char>(lo), static_cast<unsigned char>(hi)};
    });
    return ranges;
}();
static_assert(kRangeCount <= 8, "the ASCII rows of the table no longer fit a few ranges");

template <ByteRange kRange>
inline __m128i InRange(__m128i bytes) noexcept {
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(kRange.lo)));
    return _mm_cmpeq_epi8(
        _mm_subs_epu8(offset, _mm_set1_epi8(static_cast<char>(kRange.hi - kRange.lo))),
        _mm_setzero_si128());
}

template <std::size_t... kRange>
inline unsigned MaybeFolded(__m128i bytes, std::index_sequence<kRange...>) noexcept {
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, InRange<kRanges[kRange]>(bytes))), ...);
    return static_cast<unsigned>(_mm_movemask_epi8(hit));
}

// Sixteen ASCII bytes: copied, then the few the ranges let through mapped.
inline bool AsciiSse2(const unsigned char* p, char* out) noexcept {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (_mm_movemask_epi8(v) != 0) return false;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
    for (unsigned mask = MaybeFolded(v, std::make_index_sequence<kRangeCount>()); mask != 0;
         mask &= mask - 1) {
        const auto lane = static_cast<unsigned>(std::countr_zero(mask));
        if (kFolded[p[lane]] != 0) out[lane] = static_cast<char>(kFolded[p[lane]]);
    }
    return true;
}
#endif

#if PALAVOX_AVX2
// The table as sixteen-entry tables indexed by the low four bits of a byte
// value, for byte shuffles. Below row C a value either stays, becomes a space
// (a bit per row says which rows hold such values) or is one of a few
// exceptions ("&"); rows C..F (the letters) are looked up whole.
struct Nibbles {
    std::array<char, 16> rowBit{};     // by high four bits: that row's bit, or 0
    std::array<char, 16> rowsByLow{};  // by low four bits: rows where it becomes a space
    std::array<std::array<char, 16>, 4> letter{};  // rows C..F: what it becomes, or 0
};

constexpr Nibbles kNibbles = [] {
    Nibbles t;
    unsigned nextBit = 1;
    for (unsigned u = 0; u < 0xC0; ++u) {
        if (kFolded[u] != ' ') continue;
        const unsigned high = u >> 4;
        if (t.rowBit[high] == 0) {
            if (nextBit > 0x80) throw "more than eight rows with symbols";
            t.rowBit[high] = static_cast<char>(nextBit);
            nextBit <<= 1;
        }
        t.rowsByLow[u & 15] = static_cast<char>(t.rowsByLow[u & 15] | t.rowBit[high]);
    }
    for (unsigned u = 0xC0; u < 0x100; ++u)
        t.letter[(u >> 4) - 0xC][u & 15] = static_cast<char>(kFolded[u]);
    return t;
}();

struct Exception {
    unsigned char from, to;
};

constexpr std::size_t kExceptionCount = [] {
    std::size_t count = 0;
    for (unsigned u = 0; u < 0xC0; ++u) {
        if (kFolded[u] != 0 && kFolded[u] != ' ') ++count;
    }
    return count;
}();
static_assert(kExceptionCount <= 2,
              "more rows below U+00C0 that become something other than a space");

constexpr std::array<Exception, kExceptionCount> kExceptions = [] {
    std::array<Exception, kExceptionCount> list{};
    std::size_t k = 0;
    for (unsigned u = 0; u < 0xC0; ++u) {
        if (kFolded[u] != 0 && kFolded[u] != ' ')
            list[k++] = {static_cast<unsigned char>(u), kFolded[u]};
    }
    return list;
}();

PALAVOX_TARGET_AVX2 inline __m256i Table16(const std::array<char, 16>& t) noexcept {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

template <std::size_t... kException>
PALAVOX_TARGET_AVX2 inline __m256i Exceptions(__m256i x,
                                              std::index_sequence<kException...>) noexcept {
    __m256i to = _mm256_setzero_si256();
    ((to = _mm256_or_si256(
          to, _mm256_and_si256(_mm256_cmpeq_epi8(x, _mm256_set1_epi8(static_cast<char>(
                                                        kExceptions[kException].from))),
                               _mm256_set1_epi8(static_cast<char>(kExceptions[kException].to))))),
     ...);
    return to;
}

template <unsigned kRow>
PALAVOX_TARGET_AVX2 inline __m256i Letters(__m256i high, __m256i low) noexcept {
    return _mm256_and_si256(
        _mm256_cmpeq_epi8(high, _mm256_set1_epi8(static_cast<char>(0xC + kRow))),
        _mm256_shuffle_epi8(Table16(kNibbles.letter[kRow]), low));
}

// kFolded of each byte value; kLetters: values of rows C..F occur.
template <bool kLetters>
PALAVOX_TARGET_AVX2 inline __m256i LookUp(__m256i x) noexcept {
    const __m256i lowBits = _mm256_set1_epi8(0x0F);
    const __m256i low = _mm256_and_si256(x, lowBits);
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(x, 4), lowBits);
    const __m256i rows = _mm256_and_si256(_mm256_shuffle_epi8(Table16(kNibbles.rowBit), high),
                                          _mm256_shuffle_epi8(Table16(kNibbles.rowsByLow), low));
    __m256i folded = _mm256_or_si256(
        _mm256_andnot_si256(_mm256_cmpeq_epi8(rows, _mm256_setzero_si256()), _mm256_set1_epi8(' ')),
        Exceptions(x, std::make_index_sequence<kExceptionCount>()));
    if constexpr (kLetters) {
        folded = _mm256_or_si256(
            folded, _mm256_or_si256(_mm256_or_si256(Letters<0>(high, low), Letters<1>(high, low)),
                                    _mm256_or_si256(Letters<2>(high, low), Letters<3>(high, low))));
    }
    return folded;
}

// The folded byte where there is one, the byte itself elsewhere.
PALAVOX_TARGET_AVX2 inline __m256i Choose(__m256i folded, __m256i bytes) noexcept {
    return _mm256_or_si256(
        folded, _mm256_and_si256(bytes, _mm256_cmpeq_epi8(folded, _mm256_setzero_si256())));
}

// Kept bytes of eight, moved to the front, by the mask of kept bytes.
constexpr std::array<std::uint64_t, 256> kKeepBytes = [] {
    std::array<std::uint64_t, 256> table{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        std::uint64_t indexes = 0;
        unsigned k = 0;
        for (unsigned b = 0; b < 8; ++b) {
            if ((keep >> b & 1) != 0) indexes |= std::uint64_t{b} << (8 * k++);
        }
        for (; k < 8; ++k) indexes |= std::uint64_t{0x80} << (8 * k);  // a zero
        table[keep] = indexes;
    }
    return table;
}();

// The same for bytes 8..15 of a lane.
constexpr std::array<std::uint64_t, 256> kKeepUpperBytes = [] {
    std::array<std::uint64_t, 256> table = kKeepBytes;
    for (std::uint64_t& indexes : table) indexes += 0x0808080808080808;  // 0x80 stays a zero
    return table;
}();

PALAVOX_TARGET_AVX2 inline __m128i Order(unsigned lower, unsigned upper) noexcept {
    return _mm_unpacklo_epi64(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kKeepBytes[lower])),
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kKeepUpperBytes[upper])));
}

// Stores the kept bytes of 32 in order; returns the end. Writes up to 32
// bytes from `out`.
PALAVOX_TARGET_AVX2 inline char* Compact(__m256i bytes, std::uint32_t keep, char* out) noexcept {
    const unsigned k0 = keep & 0xFF, k1 = keep >> 8 & 0xFF, k2 = keep >> 16 & 0xFF, k3 = keep >> 24;
    const __m256i packed = _mm256_shuffle_epi8(
        bytes, _mm256_inserti128_si256(_mm256_castsi128_si256(Order(k0, k1)), Order(k2, k3), 1));
    const __m128i low = _mm256_castsi256_si128(packed);
    const __m128i high = _mm256_extracti128_si256(packed, 1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), low);
    out += std::popcount(k0);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(low, low));
    out += std::popcount(k1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), high);
    out += std::popcount(k2);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_unpackhi_epi64(high, high));
    return out + std::popcount(k3);
}

// Thirty-two bytes a turn while p[i + 32] is readable, all through the same
// steps and at a fixed stride, so that turns overlap: in prose whether a
// block holds an accent is a coin toss, which a branch would guess wrong half
// the time. Output never runs ahead of input, so every store stays within
// the room for n bytes.
PALAVOX_TARGET_AVX2 char* FoldAvx2(const unsigned char* p, std::size_t n, char* out) noexcept {
    std::size_t i = 0;
    std::uint32_t carried = 0;  // the block before ended on a folded lead: drop this trail byte
    for (; n - i >= 33; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
        // Where a lead C2 or C3 is, its code point's low byte: the trail byte, plus 0x40 after C3.
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 1));
        const __m256i lead =
            _mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(static_cast<char>(0xFE))),
                              _mm256_set1_epi8(static_cast<char>(0xC2)));
        const __m256i point = _mm256_or_si256(
            _mm256_or_si256(_mm256_and_si256(next, _mm256_set1_epi8(0x3F)),
                            _mm256_set1_epi8(static_cast<char>(0x80))),
            _mm256_and_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0xC3))),
                             _mm256_set1_epi8(0x40)));
        const __m256i ascii = _mm256_cmpgt_epi8(v, _mm256_set1_epi8(-1));
        const __m256i x = _mm256_blendv_epi8(
            _mm256_blendv_epi8(_mm256_set1_epi8(static_cast<char>(kStays)), point, lead), v, ascii);
        const __m256i folded = LookUp<true>(x);
        const auto foldedLeads = static_cast<std::uint32_t>(_mm256_movemask_epi8(
            _mm256_andnot_si256(_mm256_cmpeq_epi8(folded, _mm256_setzero_si256()), lead)));
        // A folded lead drops its trail byte, in this block or the next.
        out = Compact(Choose(folded, v), ~((foldedLeads << 1) | carried), out);
        carried = foldedLeads >> 31;
    }
    i += carried;
    while (i < n) FoldOne(p, n, i, out);
    return out;
}
#endif

template <Kernel kKernel>
char* FoldWith(const unsigned char* p, std::size_t n, char* out) noexcept {
#if PALAVOX_AVX2
    if constexpr (kKernel == Kernel::Avx2) return FoldAvx2(p, n, out);
#endif
    std::size_t i = 0;
#if PALAVOX_SSE2
    if constexpr (kKernel != Kernel::Scalar) {
        while (n - i >= 16) {
            if (AsciiSse2(p + i, out)) {
                i += 16;
                out += 16;
                continue;
            }
            // Code point by code point up to the next sixteen-byte block.
            for (const std::size_t stop = i + 16; i < stop;) FoldOne(p, n, i, out);
        }
    }
#endif
    while (i < n) FoldOne(p, n, i, out);
    return out;
}

}  // namespace

char* TrocaAcentos(std::string_view texto, char* out) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(texto.data());
    return detail::simd::WithKernel(
        [&](auto kernel) { return FoldWith<kernel>(p, texto.size(), out); });
}

}  // namespace palavox::utf8
