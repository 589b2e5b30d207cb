// The WebAssembly face of PalavoxClass for the Node.js package. JavaScript
// writes the arguments one after another into the input area, calls, and reads
// the outcome from `state` in memory: both areas are reused from call to call,
// so a call allocates nothing once they are large enough, and a short call
// crosses into the module once.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/palavox_class.hpp"

namespace {

// Areas kept between calls up to this many units; larger ones go back on pvx_trim.
constexpr std::size_t kKeptUnits = std::size_t(1) << 20;

struct Area {
    char16_t* units = nullptr;
    std::size_t capacity = 0;

    // Old contents are not kept: every call rewrites what it uses.
    char16_t* Reserve(std::size_t n) {
        if (n <= capacity && units != nullptr) return units;
        if (n > SIZE_MAX / sizeof(char16_t)) throw std::bad_alloc();
        std::free(units);
        capacity = 0;
        units = static_cast<char16_t*>(std::malloc((n == 0 ? 1 : n) * sizeof(char16_t)));
        if (units == nullptr) throw std::bad_alloc();
        capacity = n;
        return units;
    }

    void Trim() {
        if (capacity <= kKeptUnits) return;
        std::free(units);
        units = nullptr;
        capacity = 0;
    }
};

Area input;
Area output;

// What JavaScript reads after a call, as 32-bit words (lib/api.js names them).
struct State {
    std::uint32_t inputAt;      // byte address of the input area
    std::uint32_t inputUnits;   // the units it has room for
    std::uint32_t resultAt;     // byte address of the result
    std::uint32_t resultUnits;  // its length
    std::int32_t count;         // FindString's result
} state;

static_assert(sizeof(void*) == sizeof(std::uint32_t), "32-bit WebAssembly");

std::uint32_t Address(const void* p) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(p));
}

class OutputSink final : public palavox::TextSink {
public:
    char16_t* Allocate(std::size_t n) override {
        char16_t* at = output.Reserve(n);
        state.resultAt = Address(at);
        state.resultUnits = static_cast<std::uint32_t>(n);
        return at;
    }
};

std::u16string_view Argument(std::size_t offset, std::size_t length) {
    return {input.units + offset, length};
}

// A call's status: the result is in the output area.
constexpr int kResult = 0;
// Instead of a copy, the caller keeps the first argument: the result equals it unit for unit.
constexpr int kUnchanged = -1;

bool SameUnits(const char16_t* a, const char16_t* b, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

// The outer edge: any failure becomes its number, through the one vocabulary.
template <typename Body>
int Call(Body body) noexcept {
    state.resultUnits = 0;
    state.count = 0;
    return palavox::Guarded(body, [](const palavox::Failure& failure) {
        state.resultUnits = 0;
        state.count = 0;
        return failure.number;
    });
}

// For the routines that return a text.
int TextResult(std::size_t first) {
    const bool same = state.resultUnits == first && SameUnits(output.units, input.units, first);
    return same ? kUnchanged : kResult;
}

}  // namespace

extern "C" {

const State* pvx_state() { return &state; }

// Room for `units` units of arguments: 0, or the error number (out of memory).
int pvx_input(std::size_t units) {
    return Call([&] {
        state.inputAt = 0;
        state.inputUnits = 0;
        state.inputAt = Address(input.Reserve(units));
        state.inputUnits = static_cast<std::uint32_t>(input.capacity);
        return kResult;
    });
}

int pvx_trata_html(std::size_t entrada, std::size_t target) {
    return Call([&] {
        OutputSink sink;
        palavox::PalavoxClass().TrataHTML(Argument(0, entrada), Argument(entrada, target), sink);
        return TextResult(entrada);
    });
}

// The count itself (-1 and up), or -2 less the error number: a short search
// costs one crossing and nothing read after it. Its arguments come search
// text and selector first, so that JavaScript rewrites them only when they change.
int pvx_find_string(std::size_t entrada, std::size_t procura, std::size_t tipo) {
    const int status = Call([&] {
        state.count = palavox::PalavoxClass().FindString(
            Argument(procura + tipo, entrada), Argument(0, procura), Argument(procura, tipo));
        return kResult;
    });
    return status == kResult ? state.count : -2 - status;
}

int pvx_remover_acentuacao(std::size_t texto) {
    return Call([&] {
        OutputSink sink;
        palavox::PalavoxClass().RemoverAcentuacao(Argument(0, texto), sink);
        return TextResult(texto);
    });
}

// The words of an error number, never null.
const char* pvx_description(int number) { return palavox::ErrorDescription(number); }

// Called after a large call: gives back areas grown for it.
void pvx_trim() {
    input.Trim();
    output.Trim();
    state.inputAt = Address(input.units);
    state.inputUnits = static_cast<std::uint32_t>(input.capacity);
}

}  // extern "C"
