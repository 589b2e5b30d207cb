#include <array>
#include <bit>
#include <cstddef>
#include <iterator>
#include <utility>

#include "palavox/mod_palavox.hpp"
#include "simd.hpp"
#include "text_writer.hpp"
#include "troca_acentos_table.hpp"

namespace palavox::ModPalavox {
namespace {

using detail::kTabelaOrigem;
constexpr const std::array<char16_t, 256>& kMap = detail::kFoldMap;

// The units (narrowed to bytes) the SSE2 test lets through to the map: every
// table row and a few neighbours, which the map leaves alone.
struct ByteRange {
    unsigned char lo, hi;
};
constexpr ByteRange kPrefilter[] = {
    {0x23, 0x2B},  // # $ & ( ) +
    {0x2F, 0x2F},  // /
    {0x3A, 0x3F},  // : ; < = > ?
    {0x5B, 0x60},  // [ ] ^ `
    {0x7B, 0x7E},  // { } ~
    {0xA8, 0xFC},  // the spacing accents, ordinals and accented letters
};

constexpr bool Prefiltered(unsigned unit) noexcept {
    for (const ByteRange& r : kPrefilter) {
        if (unit >= r.lo && unit <= r.hi) return true;
    }
    return false;
}

// A row the test missed would be copied unfolded. Units above 0xFF saturate
// to 0x00 or 0xFF when narrowed, and must not get through: the map stops at 0xFF.
constexpr bool PrefilterIsSound() noexcept {
    for (const char16_t row : kTabelaOrigem) {
        if (!Prefiltered(row)) return false;
    }
    return !Prefiltered(0x00) && !Prefiltered(0xFF);
}
static_assert(PrefilterIsSound(), "the SSE2 test must let every table row through, and no wide unit");

#if PALAVOX_SSE2
// Bytes in the range, sixteen at a time.
template <ByteRange kRange>
inline __m128i InRange(__m128i bytes) noexcept {
    if constexpr (kRange.lo == kRange.hi) {
        return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(kRange.lo)));
    } else {
        const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(static_cast<char>(kRange.lo)));
        return _mm_cmpeq_epi8(
            _mm_subs_epu8(offset, _mm_set1_epi8(static_cast<char>(kRange.hi - kRange.lo))),
            _mm_setzero_si128());
    }
}

template <std::size_t... kRange>
inline __m128i Prefilter(__m128i bytes, std::index_sequence<kRange...>) noexcept {
    __m128i hit = _mm_setzero_si128();
    ((hit = _mm_or_si128(hit, InRange<kPrefilter[kRange]>(bytes))), ...);
    return hit;
}

// Maps sixteen units. Most prose has no table character in a given block, so
// only the units the pre-filter lets through go through the map.
inline void MapBlock(const char16_t* in, char16_t* out) noexcept {
    const __m128i low = detail::simd::Load(in);
    const __m128i high = detail::simd::Load(in + 8);
    detail::simd::Store(out, low);
    detail::simd::Store(out + 8, high);
    const __m128i hit = Prefilter(_mm_packus_epi16(low, high),
                                  std::make_index_sequence<std::size(kPrefilter)>());
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)); mask != 0;
         mask &= mask - 1) {
        const unsigned lane = static_cast<unsigned>(std::countr_zero(mask));
        out[lane] = kMap[in[lane]];  // below 0x100: see PrefilterIsSound
    }
}
#endif

#if PALAVOX_AVX2
// The map as sixteen-entry tables indexed by the low four bits of a unit, for
// byte shuffles. Outside the rows C0..FF (the letters) every row maps to a
// space, "&" alone to "e", so a bit per row says whether a unit is a row.
struct NibbleTables {
    std::array<char, 16> rowBit{};                 // by high four bits: that row's bit, or 0
    std::array<char, 16> rowsByLow{};              // by low four bits: bits of the rows holding it
    std::array<std::array<char, 16>, 4> letter{};  // rows C..F: the folded letter, or 0
};

constexpr NibbleTables kNibbles = [] {
    NibbleTables t;
    unsigned nextBit = 1;
    for (unsigned unit = 0; unit < 0xC0; ++unit) {
        if (kMap[unit] == unit) continue;
        if (kMap[unit] != u' ' && !(unit == u'&' && kMap[unit] == u'e')) throw "unexpected row";
        const unsigned high = unit >> 4;
        if (t.rowBit[high] == 0) {
            if (nextBit > 0x80) throw "more than eight symbol rows";
            t.rowBit[high] = static_cast<char>(nextBit);
            nextBit <<= 1;
        }
        t.rowsByLow[unit & 15] = static_cast<char>(t.rowsByLow[unit & 15] | t.rowBit[high]);
    }
    for (unsigned unit = 0xC0; unit < 0x100; ++unit) {
        if (kMap[unit] == unit) continue;
        if (kMap[unit] == 0 || kMap[unit] > 0x7F) throw "letter row does not fold to ASCII";
        t.letter[(unit >> 4) - 0xC][unit & 15] = static_cast<char>(kMap[unit]);
    }
    return t;
}();

PALAVOX_TARGET_AVX2 inline __m256i Table16(const std::array<char, 16>& t) noexcept {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

// Maps `count` units, a multiple of 32, with no branch per unit: every unit
// below 0x100 is looked up by its two halves, the rest pass through.
PALAVOX_TARGET_AVX2 void MapAvx2(const char16_t* in, char16_t* out, std::size_t count) noexcept {
    const __m256i lowBits = _mm256_set1_epi8(0x0F);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rowBit = Table16(kNibbles.rowBit);
    const __m256i rowsByLow = Table16(kNibbles.rowsByLow);
    const __m256i letterC = Table16(kNibbles.letter[0]);
    const __m256i letterD = Table16(kNibbles.letter[1]);
    const __m256i letterE = Table16(kNibbles.letter[2]);
    const __m256i letterF = Table16(kNibbles.letter[3]);
    const __m256i rowC = _mm256_set1_epi8(0xC), rowD = _mm256_set1_epi8(0xD);
    const __m256i rowE = _mm256_set1_epi8(0xE), rowF = _mm256_set1_epi8(0xF);
    const __m256i space = _mm256_set1_epi8(' ');
    const __m256i ampersand = _mm256_set1_epi8('&');
    const __m256i spaceToE = _mm256_set1_epi8('e' ^ ' ');
    for (std::size_t i = 0; i < count; i += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i + 16));
        // Saturation sends every unit above 0xFF to 0xFF or 0x00, both unchanged by the map.
        // The packing interleaves the halves of a and b; unpacking below undoes it.
        const __m256i bytes = _mm256_packus_epi16(a, b);
        const __m256i low = _mm256_and_si256(bytes, lowBits);
        const __m256i high = _mm256_and_si256(_mm256_srli_epi16(bytes, 4), lowBits);

        const __m256i notSymbol =
            _mm256_cmpeq_epi8(_mm256_and_si256(_mm256_shuffle_epi8(rowBit, high),
                                               _mm256_shuffle_epi8(rowsByLow, low)),
                              zero);
        const __m256i letter = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_and_si256(_mm256_cmpeq_epi8(high, rowC), _mm256_shuffle_epi8(letterC, low)),
                _mm256_and_si256(_mm256_cmpeq_epi8(high, rowD), _mm256_shuffle_epi8(letterD, low))),
            _mm256_or_si256(
                _mm256_and_si256(_mm256_cmpeq_epi8(high, rowE), _mm256_shuffle_epi8(letterE, low)),
                _mm256_and_si256(_mm256_cmpeq_epi8(high, rowF),
                                 _mm256_shuffle_epi8(letterF, low))));
        const __m256i keep = _mm256_and_si256(notSymbol, _mm256_cmpeq_epi8(letter, zero));
        const __m256i mapped =
            _mm256_or_si256(_mm256_or_si256(letter, _mm256_andnot_si256(notSymbol, space)),
                            _mm256_and_si256(_mm256_cmpeq_epi8(bytes, ampersand), spaceToE));

        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_blendv_epi8(_mm256_unpacklo_epi8(mapped, zero), a,
                                               _mm256_unpacklo_epi8(keep, keep)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 16),
                            _mm256_blendv_epi8(_mm256_unpackhi_epi8(mapped, zero), b,
                                               _mm256_unpackhi_epi8(keep, keep)));
    }
}
#endif

// Writes the folded text to `out`, which has room for all of it.
template <detail::Kernel kKernel>
void Fold(std::u16string_view texto, char16_t* out) noexcept {
    const char16_t* const in = texto.data();
    const std::size_t n = texto.size();
    std::size_t i = 0;
#if PALAVOX_AVX2
    if constexpr (kKernel == detail::Kernel::Avx2) {
        i = n - n % 32;
        MapAvx2(in, out, i);
    }
#endif
#if PALAVOX_SSE2
    if constexpr (kKernel != detail::Kernel::Scalar) {
        for (; i + 16 <= n; i += 16) MapBlock(in + i, out + i);
    }
#endif
    for (; i < n; ++i) out[i] = in[i] < kMap.size() ? kMap[in[i]] : in[i];
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

}  // namespace palavox::ModPalavox
