// The floor of a call into a shared library: a function taking what
// palavox_find_string takes and doing nothing with it, built as a library of
// its own and called from the benchmark as libpalavox.so is.
#include <cstddef>
#include <cstdint>

extern "C" __attribute__((visibility("default"))) int palavox_bench_empty_call(
    const std::uint16_t*, std::size_t, const std::uint16_t*, std::size_t, const std::uint16_t*,
    std::size_t, std::int32_t* resultado) {
    *resultado = 0;
    return 0;
}
