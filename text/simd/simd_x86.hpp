// The x86 vector operations that are one instruction on either width, one
// line an operation: its name, then the instruction on 16 bytes (SSE2) and
// on 32 (AVX2). simd_sse2.hpp and simd_avx2.hpp each define theirs from these
// lines (PALAVOX_X86_OPS); what is not here, each defines itself.
// Internal to text/.
#pragma once

// Vec name(Vec a, Vec b).
#define PALAVOX_X86_BINARY(X, P, H)                                             \
    X(P, H, And, _mm_and_si128, _mm256_and_si256)                               \
    X(P, H, Or, _mm_or_si128, _mm256_or_si256)                                  \
    X(P, H, Xor, _mm_xor_si128, _mm256_xor_si256)                               \
    X(P, H, AndNot, _mm_andnot_si128, _mm256_andnot_si256) /* ~a & b */         \
    X(P, H, Eq8, _mm_cmpeq_epi8, _mm256_cmpeq_epi8)                             \
    X(P, H, Eq16, _mm_cmpeq_epi16, _mm256_cmpeq_epi16)                          \
    X(P, H, GreaterS8, _mm_cmpgt_epi8, _mm256_cmpgt_epi8) /* as signed bytes */ \
    X(P, H, MaxU8, _mm_max_epu8, _mm256_max_epu8)                               \
    X(P, H, Add16, _mm_add_epi16, _mm256_add_epi16)                             \
    X(P, H, Sub8, _mm_sub_epi8, _mm256_sub_epi8)                                \
    X(P, H, SubSatU8, _mm_subs_epu8, _mm256_subs_epu8) /* 0 where b > a */      \
    /* Units to bytes, saturated as unsigned (past 0xFF 0xFF, past 0x7FFF       \
       0x00), a and then b a 16-byte lane at a time; Interleave undoes it. */   \
    X(P, H, PackUnits, _mm_packus_epi16, _mm256_packus_epi16)                   \
    /* The bytes of the low (high) half of each 16-byte lane, a's and b's       \
       in turn. */                                                              \
    X(P, H, InterleaveLow8, _mm_unpacklo_epi8, _mm256_unpacklo_epi8)            \
    X(P, H, InterleaveHigh8, _mm_unpackhi_epi8, _mm256_unpackhi_epi8)

// template <int k> Vec name(Vec v): each 16-bit lane shifted by k bits.
#define PALAVOX_X86_SHIFT(X, P, H)                           \
    X(P, H, ShiftRight16, _mm_srli_epi16, _mm256_srli_epi16) \
    X(P, H, ShiftLeft16, _mm_slli_epi16, _mm256_slli_epi16)

// template <class V = Vec> V name(unsigned value): the value in every lane
// of V (with AVX2, 16 or 32 bytes).
#define PALAVOX_X86_SPLAT(X, P, H)                         \
    X(P, H, Splat8, _mm_set1_epi8, _mm256_set1_epi8, char) \
    X(P, H, Splat16, _mm_set1_epi16, _mm256_set1_epi16, short)

// Defines the operations above in an instruction set's namespace: P is
// PALAVOX_X86_NARROW or PALAVOX_X86_WIDE, which of the two instructions is
// its own; H(name) makes SSE2's the operation on 16 bytes where Vec is wider.
#define PALAVOX_X86_NARROW(narrow, wide) narrow
#define PALAVOX_X86_WIDE(narrow, wide) wide
#define PALAVOX_X86_NO_HALF(name)
#define PALAVOX_X86_SSE2_HALF(name) using sse2::name;
#define PALAVOX_X86_OPS(P, H)                       \
    PALAVOX_X86_BINARY(PALAVOX_X86_BINARY_OP, P, H) \
    PALAVOX_X86_SHIFT(PALAVOX_X86_SHIFT_OP, P, H)   \
    PALAVOX_X86_SPLAT(PALAVOX_X86_SPLAT_OP, P, H)
#define PALAVOX_X86_BINARY_OP(P, H, name, narrow, wide) \
    H(name)                                             \
    PALAVOX_OP Vec name(Vec a, Vec b) noexcept { return P(narrow, wide)(a, b); }
#define PALAVOX_X86_SHIFT_OP(P, H, name, narrow, wide) \
    H(name)                                            \
    template <int k>                                   \
    PALAVOX_OP Vec name(Vec v) noexcept {              \
        return P(narrow, wide)(v, k);                  \
    }
#define PALAVOX_X86_SPLAT_OP(P, H, name, narrow, wide, type)  \
    template <class V = Vec>                                  \
    PALAVOX_OP V name(unsigned value) noexcept {              \
        if constexpr (sizeof(V) == 16) {                      \
            return narrow(static_cast<type>(value));          \
        } else {                                              \
            return P(narrow, wide)(static_cast<type>(value)); \
        }                                                     \
    }
