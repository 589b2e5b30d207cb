// Link markup against the reference model under every kernel, and against its
// own description: taking the anchors out again must give back the caller's text.
#include <cstddef>
#include <cstdint>

#include "anchors.hpp"
#include "fuzz_input.hpp"
#include "palavox/mod_palavox.hpp"
#include "reference/conta_as_model.hpp"
#include "reference/reference_model.hpp"

using namespace palavox;
using namespace palavox::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInputBytes) return 0;
    const Layout layout = DecodeLayout(data[0]);
    const auto fields = DecodeFields(data + 1, size - 1, 2);
    const Placed texto(fields[0], layout.shift);
    const Placed alvo(fields[1], layout.shift);

    const Text model = reference::ConverteLinks(texto.view(), alvo.view());
    ForEachKernel([&](const char* kernel) {
        const Text fast = ModPalavox::ConverteLinks(texto.view(), alvo.view());
        if (fast != model) {
            Fail("ConverteLinks differs from the reference model",
                 {Show("texto", texto.view()), Show("alvo", alvo.view()), Show("kernel", kernel),
                  Show("fast", fast), Show("reference", model)});
        }
    });

    if (FindHttp(texto.view()) == std::u16string_view::npos && model != texto.view()) {
        Fail("ConverteLinks changed a text without \"http\"",
             {Show("texto", texto.view()), Show("alvo", alvo.view()), Show("result", model)});
    }

    const std::u16string_view target = alvo.view().empty() ? u"_self" : alvo.view();
    const Unmarked back = RemoveAnchors(model, target);
    if (!back.fault.empty() || back.text != texto.view()) {
        Fail(back.fault.empty() ? "removing the anchors does not give back the input"
                                : back.fault.c_str(),
             {Show("texto", texto.view()), Show("alvo", alvo.view()), Show("result", model),
              Show("unmarked", back.text)});
    }

    // Links are counted once up front; one that holds "http" again takes it along.
    // An empty text counts as -1: nothing to count, and no anchors either.
    const std::int32_t counted = reference::FastContaOcorrencias(texto.view(), u"http", u"");
    if (back.anchors > static_cast<std::size_t>(counted < 0 ? 0 : counted)) {
        Fail("more anchors than occurrences of \"http\"",
             {Show("texto", texto.view()), Show("anchors", static_cast<long long>(back.anchors)),
              Show("counted", counted)});
    }
    return 0;
}
