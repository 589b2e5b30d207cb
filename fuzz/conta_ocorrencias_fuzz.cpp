// Occurrence counting against the reference model, for the caller's selector
// and for both modes, under every kernel, plus the arithmetic the count must obey.
#include <cstddef>
#include <cstdint>

#include "fuzz_input.hpp"
#include "palavox/mod_palavox.hpp"
#include "primitives/primitives.hpp"
#include "reference/conta_as_model.hpp"
#include "reference/reference_model.hpp"

using namespace palavox;
using namespace palavox::fuzz;

namespace {

bool HasSurrogate(std::u16string_view text) {
    for (const char16_t unit : text) {
        if (unit >= 0xD800 && unit <= 0xDFFF) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInputBytes) return 0;
    const Layout layout = DecodeLayout(data[0]);
    const auto fields = DecodeFields(data + 1, size - 1, 3);
    const Placed texto(fields[0], layout.shift);
    const Placed procura(fields[1], layout.shift);
    const Placed tipo(fields[2], layout.shift);
    const std::u16string_view t = texto.view();
    const std::u16string_view p = procura.view();

    // The model for the caller's selector and for each mode; the fast count under every kernel.
    const std::u16string_view selectors[] = {tipo.view(), u"", u"b"};
    std::int32_t model[3] = {};
    for (std::size_t s = 0; s < 3; ++s) model[s] = reference::ContaOcorrencias(t, p, selectors[s]);
    ForEachKernel([&](const char* kernel) {
        for (std::size_t s = 0; s < 3; ++s) {
            const std::int32_t fast = reference::FastContaOcorrencias(t, p, selectors[s]);
            if (fast != model[s]) {
                Fail("ContaOcorrencias differs from the reference model",
                     {Show("texto", t), Show("procura", p), Show("tipo", selectors[s]),
                      Show("kernel", kernel), Show("fast", fast), Show("reference", model[s])});
            }
        }
    });
    const std::int32_t folded = model[1];
    const std::int32_t exact = model[2];

    if (t.empty() || p.empty()) {
        if (folded != -1 || exact != -1) {
            Fail("an empty text or search text must give -1",
                 {Show("texto", t), Show("procura", p), Show("folded", folded),
                  Show("exact", exact)});
        }
        return 0;
    }
    for (const auto& [mode, n] : {std::pair{CompareMode::TextCompare, folded},
                                  std::pair{CompareMode::BinaryCompare, exact}}) {
        if (n < 0 || static_cast<std::size_t>(n) > t.size() / p.size()) {
            Fail("count outside 0 .. length / search length",
                 {Show("texto", t), Show("procura", p), Show("mode", ModeName(mode)),
                  Show("count", n)});
        }
        // The count is defined as the shrinkage when every match is deleted.
        const Text reduced = Replace(t, p, u"", ReplaceLimit::All, mode);
        if (t.size() - reduced.size() != static_cast<std::size_t>(n) * p.size()) {
            Fail("count disagrees with deleting every match",
                 {Show("texto", t), Show("procura", p), Show("mode", ModeName(mode)),
                  Show("count", n), Show("reduced", reduced)});
        }
    }
    // Without surrogates folding is per unit, so every exact match is a folded
    // match, and leftmost non-overlapping matching finds the most there are.
    if (!HasSurrogate(t) && !HasSurrogate(p) && folded < exact) {
        Fail("fewer matches ignoring case than matching exactly",
             {Show("texto", t), Show("procura", p), Show("folded", folded), Show("exact", exact)});
    }
    return 0;
}
