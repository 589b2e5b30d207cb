// The WebAssembly face of PalavoxClass for the Node.js package. JavaScript
// writes the arguments one after another into the input area, calls, and reads
// the result from the output area: both areas are reused from call to call, so
// a call allocates nothing once they are large enough.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "palavox/palavox_class.hpp"

namespace {

// Areas kept between calls up to this many units; larger ones go back after the call.
constexpr std::size_t kKeptUnits = std::size_t(1) << 20;

struct Area {
    char16_t* units = nullptr;
    std::size_t capacity = 0;

    // Old contents are not kept: every call rewrites what it uses.
    char16_t* Reserve(std::size_t n) {
        if (n <= capacity && units != nullptr) return units;
        if (n > SIZE_MAX / sizeof(char16_t)) return nullptr;
        std::free(units);
        units = static_cast<char16_t*>(std::malloc((n == 0 ? 1 : n) * sizeof(char16_t)));
        capacity = units != nullptr ? n : 0;
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
std::size_t resultLength = 0;
std::int32_t count = 0;
char description[96] = "";  // of the last failure, kept past its exception

void Describe(const char* text) {
    std::strncpy(description, text, sizeof description - 1);
    description[sizeof description - 1] = '\0';
}

class OutputSink final : public palavox::TextSink {
public:
    char16_t* Allocate(std::size_t n) override {
        char16_t* at = output.Reserve(n);
        if (at == nullptr) throw std::bad_alloc();
        resultLength = n;
        return at;
    }
};

std::u16string_view Argument(std::size_t offset, std::size_t length) {
    return {input.units + offset, length};
}

// The outer edge: the error number crosses, the exception does not.
template <typename Call>
int Guarded(Call call) {
    resultLength = 0;
    count = 0;
    try {
        call();
        return 0;
    } catch (const palavox::Error& e) {
        Describe(e.what());
        resultLength = 0;
        count = 0;
        return e.number();
    } catch (const std::bad_alloc&) {
        Describe("Out of memory");
        resultLength = 0;
        count = 0;
        return 7;
    }
}

}  // namespace

extern "C" {

// Room for `units` units of arguments, or null when memory is exhausted.
char16_t* pvx_input(std::size_t units) { return input.Reserve(units); }

int pvx_trata_html(std::size_t entrada, std::size_t target) {
    return Guarded([&] {
        OutputSink sink;
        palavox::PalavoxClass().TrataHTML(Argument(0, entrada), Argument(entrada, target), sink);
    });
}

int pvx_find_string(std::size_t entrada, std::size_t procura, std::size_t tipo) {
    return Guarded([&] {
        count = palavox::PalavoxClass().FindString(Argument(0, entrada),
                                                   Argument(entrada, procura),
                                                   Argument(entrada + procura, tipo));
    });
}

int pvx_remover_acentuacao(std::size_t texto) {
    return Guarded([&] {
        OutputSink sink;
        palavox::PalavoxClass().RemoverAcentuacao(Argument(0, texto), sink);
    });
}

const char16_t* pvx_result() { return output.units; }
std::size_t pvx_result_length() { return resultLength; }
std::int32_t pvx_count() { return count; }
const char* pvx_description() { return description; }

// Called once the result has been read: gives back areas grown for a large text.
void pvx_trim() {
    input.Trim();
    output.Trim();
}

}  // extern "C"
