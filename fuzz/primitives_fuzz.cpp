// Find, Replace, Substring and Decimal against the reference model in both
// modes and both limits (Find and Replace under every kernel), plus how Find
// and Replace must agree with each other, and the two promises case folding
// makes to them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

#include "case/case_fold.hpp"
#include "fuzz_input.hpp"
#include "palavox/mod_palavox.hpp"
#include "palavox/text.hpp"
#include "primitives/primitives.hpp"
#include "reference/reference_model.hpp"

using namespace palavox;
using namespace palavox::fuzz;

namespace {

void CheckFind(std::u16string_view text, std::u16string_view search, std::size_t start,
               CompareMode mode) {
    const std::size_t model = reference::Find(text, search, start, mode);
    ForEachKernel([&](const char* kernel) {
        const std::size_t fast = Find(text, search, start, mode);
        if (fast != model) {
            Fail("Find differs from the reference model",
                 {Show("text", text), Show("search", search),
                  Show("start", static_cast<long long>(start)), Show("mode", ModeName(mode)),
                  Show("kernel", kernel), Show("fast", static_cast<long long>(fast)),
                  Show("reference", static_cast<long long>(model))});
        }
    });
}

void CheckReplace(std::u16string_view text, std::u16string_view search,
                  std::u16string_view replacement, CompareMode mode) {
    for (const auto limit : {reference::Limit::All, reference::Limit::FirstOnly}) {
        const bool all = limit == reference::Limit::All;
        const Text model = reference::Replace(text, search, replacement, limit, mode);
        ForEachKernel([&](const char* kernel) {
            const Text fast = Replace(text, search, replacement,
                                      all ? ReplaceLimit::All : ReplaceLimit::FirstOnly, mode);
            if (fast != model) {
                Fail("Replace differs from the reference model",
                     {Show("text", text), Show("search", search), Show("replacement", replacement),
                      Show("mode", ModeName(mode)), Show("limit", all ? "All" : "FirstOnly"),
                      Show("kernel", kernel), Show("fast", fast), Show("reference", model)});
            }
        });
    }
    if (search.empty()) return;

    // Replacing the first match only is splicing at the position Find reports.
    const std::size_t at = Find(text, search, 1, mode);
    const Text first = Replace(text, search, replacement, ReplaceLimit::FirstOnly, mode);
    const Text spliced = at == 0 ? Text(text)
                                 : Text(text.substr(0, at - 1)) + Text(replacement) +
                                       Text(text.substr(at - 1 + search.size()));
    if (first != spliced) {
        Fail("Replace of the first match disagrees with Find",
             {Show("text", text), Show("search", search), Show("replacement", replacement),
              Show("mode", ModeName(mode)), Show("found at", static_cast<long long>(at)),
              Show("replaced", first)});
    }
    // Each match swaps search.size() units for replacement.size() ones.
    const std::size_t matches = ModPalavox::ContaOcorrencias(text, search, mode);
    const Text every = Replace(text, search, replacement, ReplaceLimit::All, mode);
    if (every.size() + matches * search.size() != text.size() + matches * replacement.size()) {
        Fail("Replace of every match has the wrong length for the count",
             {Show("text", text), Show("search", search), Show("replacement", replacement),
              Show("mode", ModeName(mode)), Show("count", static_cast<long long>(matches)),
              Show("replaced", every)});
    }
    if (mode == CompareMode::BinaryCompare) {
        const Text same = Replace(text, search, search, ReplaceLimit::All, mode);
        if (same != text) {
            Fail("replacing every exact match with itself changed the text",
                 {Show("text", text), Show("search", search), Show("result", same)});
        }
    }
}

void CheckSubstring(std::u16string_view text, std::size_t start, std::size_t maxLength) {
    const Text fast = Substring(text, start, maxLength);
    const Text model = reference::Substring(text, start, maxLength);
    if (fast != model) {
        Fail("Substring differs from the reference model",
             {Show("text", text), Show("start", static_cast<long long>(start)),
              Show("max length", static_cast<long long>(maxLength)), Show("fast", fast),
              Show("reference", model)});
    }
}

// TextCompare matches unit by unit, which only works if folding keeps the
// UTF-16 length, and is only an equivalence if folding twice changes nothing.
void CheckFolding(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        }
        const char32_t once = detail::FoldCodePoint(cp);
        const char32_t twice = detail::FoldCodePoint(once);
        if ((once >= 0x10000) != (cp >= 0x10000) || twice != once) {
            Fail("case folding changes the UTF-16 length or is not idempotent",
                 {Show("code point", static_cast<long long>(cp)),
                  Show("folded", static_cast<long long>(once)),
                  Show("folded twice", static_cast<long long>(twice))});
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInputBytes) return 0;
    const Layout layout = DecodeLayout(data[0]);
    const auto fields = DecodeFields(data + 1, size - 1, 3);
    const Placed text(fields[0], layout.shift);
    const Placed search(fields[1], layout.shift);
    const Placed replacement(fields[2], layout.shift);

    for (const auto mode : {CompareMode::BinaryCompare, CompareMode::TextCompare}) {
        CheckFind(text.view(), search.view(), 1, mode);
        CheckFind(text.view(), search.view(), layout.start, mode);
        CheckReplace(text.view(), search.view(), replacement.view(), mode);
    }
    CheckSubstring(text.view(), layout.start, search.view().size());
    CheckSubstring(text.view(), layout.start, std::numeric_limits<std::size_t>::max());
    CheckFolding(text.view());
    CheckFolding(search.view());

    std::int32_t value = 0;
    std::memcpy(&value, data, size < sizeof value ? size : sizeof value);
    const Text fast = Decimal(value);
    const Text model = reference::Decimal(value);
    if (fast != model) {
        Fail("Decimal differs from the reference model",
             {Show("value", value), Show("fast", fast), Show("reference", model)});
    }
    return 0;
}
