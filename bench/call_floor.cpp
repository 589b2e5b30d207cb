// What a call of the C interface's allocating link markup costs at least, in
// a shared library of its own called as libpalavox.so is: the same arguments
// checked and the outputs cleared, and the result (the text given) allocated
// with its terminator and copied, or nothing at all. Beside the real call in
// the same run, they say how much of it is the call and the result's copy.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__GNUC__)
#define PALAVOX_FLOOR_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define PALAVOX_FLOOR_EXPORT extern "C"
#endif

namespace {

template <class Unit>
int CopyOut(const Unit* entrada, std::size_t entrada_len, const Unit* target,
            std::size_t target_len, Unit** resultado, std::size_t* resultado_len) noexcept {
    if (resultado == nullptr || resultado_len == nullptr) return 5;
    *resultado = nullptr;
    *resultado_len = 0;
    if ((entrada == nullptr && entrada_len != 0) || (target == nullptr && target_len != 0)) {
        return 5;
    }
    auto* p = static_cast<Unit*>(std::malloc((entrada_len + 1) * sizeof(Unit)));
    if (p == nullptr) return 7;
    if (entrada_len != 0) std::memcpy(p, entrada, entrada_len * sizeof(Unit));
    p[entrada_len] = Unit{};
    *resultado = p;
    *resultado_len = entrada_len;
    return 0;
}

}  // namespace

PALAVOX_FLOOR_EXPORT int palavox_floor_copy(const std::uint16_t* entrada, std::size_t entrada_len,
                                            const std::uint16_t* target, std::size_t target_len,
                                            std::uint16_t** resultado,
                                            std::size_t* resultado_len) {
    return CopyOut(entrada, entrada_len, target, target_len, resultado, resultado_len);
}

PALAVOX_FLOOR_EXPORT int palavox_floor_copy_utf8(const char* entrada, std::size_t entrada_len,
                                                 const char* target, std::size_t target_len,
                                                 char** resultado, std::size_t* resultado_len) {
    return CopyOut(entrada, entrada_len, target, target_len, resultado, resultado_len);
}

PALAVOX_FLOOR_EXPORT int palavox_floor_call_utf8(const char*, std::size_t, const char*,
                                                 std::size_t, char** resultado,
                                                 std::size_t* resultado_len) {
    if (resultado == nullptr || resultado_len == nullptr) return 5;
    *resultado = nullptr;
    *resultado_len = 0;
    return 0;
}
