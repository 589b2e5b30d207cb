// Link markup against the reference model under every kernel, and against its
// own description: taking the anchors out again must give back the caller's text.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "anchors.hpp"
#include "fuzz_input.hpp"
#include "links/utf8_links.hpp"
#include "palavox/mod_palavox.hpp"
#include "reference/conta_as_model.hpp"
#include "reference/reference_model.hpp"

using namespace palavox;
using namespace palavox::fuzz;

namespace {

// The sink form's result, in a block of exactly its size.
class ExactSink final : public TextSink {
public:
    char16_t* Allocate(std::size_t units) override {
        units_ = units;
        block_.reset(new char16_t[units == 0 ? 1 : units]);
        return block_.get();
    }
    Text text() const { return Text(block_.get(), units_); }

private:
    std::size_t units_ = 0;
    std::unique_ptr<char16_t[]> block_;
};

}  // namespace

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
        // The forms the edges call: into a sink, and into storage too small or just enough.
        ExactSink sink;
        ModPalavox::ConverteLinks(texto.view(), alvo.view(), sink);
        std::unique_ptr<char16_t[]> into(new char16_t[model.size() + 1]);
        const std::size_t tooSmall = model.empty() ? 0 : model.size() - 1;
        if (sink.text() != model ||
            ModPalavox::ConverteLinksInto(texto.view(), alvo.view(), into.get(), tooSmall) !=
                model.size() ||
            ModPalavox::ConverteLinksInto(texto.view(), alvo.view(), into.get(), model.size()) !=
                model.size() ||
            std::u16string_view(into.get(), model.size()) != model) {
            Fail("ConverteLinks into a sink or storage differs from the reference model",
                 {Show("texto", texto.view()), Show("alvo", alvo.view()), Show("kernel", kernel),
                  Show("sink", sink.text()), Show("reference", model)});
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
