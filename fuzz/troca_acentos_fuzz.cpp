// Accent folding against the reference model under every kernel: same result,
// same length, and a second pass changes nothing.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "palavox/mod_palavox.hpp"
#include "reference/reference_model.hpp"

using namespace palavox;
using namespace palavox::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInputBytes) return 0;
    const Layout layout = DecodeLayout(data[0]);
    const Placed texto(DecodeFields(data + 1, size - 1, 1)[0], layout.shift);
    const Text model = reference::TrocaAcentos(texto.view());

    ForEachKernel([&](const char* kernel) {
        const Text fast = ModPalavox::TrocaAcentos(texto.view());
        if (fast != model) {
            Fail("TrocaAcentos differs from the reference model",
                 {Show("texto", texto.view()), Show("kernel", kernel), Show("fast", fast),
                  Show("reference", model)});
        }
        const Placed once(fast, layout.shift);
        const Text twice = ModPalavox::TrocaAcentos(once.view());
        if (twice != fast) {
            Fail("TrocaAcentos is not idempotent",
                 {Show("texto", texto.view()), Show("kernel", kernel), Show("once", fast),
                  Show("twice", twice)});
        }
    });
    if (model.size() != texto.view().size()) {
        Fail("TrocaAcentos changed the length",
             {Show("texto", texto.view()), Show("result", model)});
    }
    // The table lives below U+0100: anything above, surrogates included, passes through.
    for (std::size_t i = 0; i < model.size(); ++i) {
        if (texto.view()[i] >= 0x100 && model[i] != texto.view()[i]) {
            Fail("TrocaAcentos changed a unit outside Latin-1",
                 {Show("texto", texto.view()), Show("result", model),
                  Show("at", static_cast<long long>(i))});
        }
    }
    return 0;
}
