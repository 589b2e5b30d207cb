#include "baselines.hpp"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace palavox::bench {
namespace {

std::uint16_t Tail(const char16_t* p, std::size_t n, std::uint16_t acc) noexcept {
    for (std::size_t i = 0; i < n; ++i) acc = static_cast<std::uint16_t>(acc | p[i]);
    return acc;
}

}  // namespace

#if defined(__SSE2__)

std::uint16_t ReadPassSse2(std::u16string_view text) noexcept {
    const char16_t* p = text.data();
    std::size_t n = text.size();
    __m128i a = _mm_setzero_si128(), b = a, c = a, d = a;
    for (; n >= 32; p += 32, n -= 32) {
        a = _mm_or_si128(a, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        b = _mm_or_si128(b, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
        c = _mm_or_si128(c, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
        d = _mm_or_si128(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 24)));
    }
    a = _mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d));
    a = _mm_or_si128(a, _mm_srli_si128(a, 8));
    a = _mm_or_si128(a, _mm_srli_si128(a, 4));
    a = _mm_or_si128(a, _mm_srli_si128(a, 2));
    return Tail(p, n, static_cast<std::uint16_t>(_mm_cvtsi128_si32(a)));
}

__attribute__((target("avx2"))) std::uint16_t ReadPassAvx2(std::u16string_view text) noexcept {
    const char16_t* p = text.data();
    std::size_t n = text.size();
    __m256i a = _mm256_setzero_si256(), b = a, c = a, d = a;
    for (; n >= 64; p += 64, n -= 64) {
        a = _mm256_or_si256(a, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
        b = _mm256_or_si256(b, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16)));
        c = _mm256_or_si256(c, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32)));
        d = _mm256_or_si256(d, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 48)));
    }
    a = _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d));
    __m128i x = _mm_or_si128(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    x = _mm_or_si128(x, _mm_srli_si128(x, 8));
    x = _mm_or_si128(x, _mm_srli_si128(x, 4));
    x = _mm_or_si128(x, _mm_srli_si128(x, 2));
    return Tail(p, n, static_cast<std::uint16_t>(_mm_cvtsi128_si32(x)));
}

bool CpuHasAvx2() noexcept {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

#else

std::uint16_t ReadPassSse2(std::u16string_view text) noexcept {
    return Tail(text.data(), text.size(), 0);
}
std::uint16_t ReadPassAvx2(std::u16string_view text) noexcept {
    return Tail(text.data(), text.size(), 0);
}
bool CpuHasAvx2() noexcept { return false; }

#endif

}  // namespace palavox::bench
