// Compiles the generic kernel PALAVOX_KERNEL (a file name) once for each
// instruction set this build holds: in that set's namespace, which the file
// opens as palavox::detail::PALAVOX_ISA, and for that set alone. The file
// names operations without saying whose (simd_sse2.hpp, simd_avx2.hpp).
// No include guard: included once for each kernel. Internal to text/.
#if PALAVOX_SSE2
#define PALAVOX_ISA sse2
#include PALAVOX_KERNEL
#undef PALAVOX_ISA
#endif
#if PALAVOX_AVX2
PALAVOX_BEGIN_AVX2
#define PALAVOX_ISA avx2
#include PALAVOX_KERNEL
#undef PALAVOX_ISA
PALAVOX_END_AVX2
#endif
#undef PALAVOX_KERNEL
