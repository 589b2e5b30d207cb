// Takes the anchors back out of a marked-up text, knowing the target they were
// made with, so that link markup can be judged without a second implementation
// of it: what comes back must be the caller's text, every anchor must hold a
// whole link, and no link may be left outside an anchor.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::fuzz {

struct Unmarked {
    Text text;                // the result with every anchor replaced by its link
    std::size_t anchors = 0;  // how many anchors were taken out
    std::string fault;        // empty when every anchor was well formed
};

inline bool EndsLink(char16_t unit) { return unit == u'\r' || unit == u' ' || unit == u'|'; }

// "http" in any case. Only ASCII letters fold onto these four, so no folding
// table is needed here, and a wrong table in text/ cannot fool this check.
inline bool StartsWithHttp(std::u16string_view text) {
    static constexpr std::u16string_view kWord = u"http";
    if (text.size() < kWord.size()) return false;
    for (std::size_t i = 0; i < kWord.size(); ++i) {
        if ((text[i] | 0x20) != kWord[i]) return false;
    }
    return true;
}

inline std::size_t FindHttp(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (StartsWithHttp(text.substr(i))) return i;
    }
    return std::u16string_view::npos;
}

inline Unmarked RemoveAnchors(std::u16string_view marked, std::u16string_view target) {
    static constexpr std::u16string_view kOpen = u"<a href=\"";
    static constexpr std::u16string_view kMiddle = u"\" target=\"";
    static constexpr std::u16string_view kClose = u"\">";
    static constexpr std::u16string_view kEnd = u"</a>";

    Unmarked out;
    std::size_t gapStart = 0;  // where the caller's text between anchors began in `out.text`
    auto closeGap = [&]() {
        const std::u16string_view gap = std::u16string_view(out.text).substr(gapStart);
        if (out.fault.empty() && FindHttp(gap) != std::u16string_view::npos) {
            out.fault = "an \"http\" left outside every anchor";
        }
    };

    std::size_t i = 0;
    while (i < marked.size()) {
        const std::u16string_view rest = marked.substr(i);
        if (rest.starts_with(kOpen)) {
            // A link holds no space and the middle piece does, so the first space
            // after the opening belongs to the middle piece: the split is unique.
            const std::size_t space = rest.find(u' ', kOpen.size());
            if (space != std::u16string_view::npos && space > kOpen.size() &&
                rest.substr(space - 1).starts_with(kMiddle)) {
                const std::u16string_view link =
                    rest.substr(kOpen.size(), space - 1 - kOpen.size());
                std::u16string_view after = rest.substr(space - 1 + kMiddle.size());
                if (after.starts_with(target) && after.substr(target.size()).starts_with(kClose)) {
                    after = after.substr(target.size() + kClose.size());
                    // Without "http" it cannot be one of ours: the caller may have
                    // written anchors of their own, which stay text.
                    if (StartsWithHttp(link) && after.starts_with(link) &&
                        after.substr(link.size()).starts_with(kEnd)) {
                        const std::size_t length =
                            rest.size() - after.size() + link.size() + kEnd.size();
                        closeGap();
                        if (out.fault.empty()) {
                            if (link.find_first_of(u"\r|") != std::u16string_view::npos) {
                                out.fault = "a link running past a carriage return or \"|\"";
                            } else if (i + length < marked.size() &&
                                       !EndsLink(marked[i + length])) {
                                out.fault =
                                    "a link cut short before the next space, carriage return or "
                                    "\"|\"";
                            }
                        }
                        out.text += link;
                        gapStart = out.text.size();
                        ++out.anchors;
                        i += length;
                        continue;
                    }
                }
            }
        }
        out.text += marked[i];
        ++i;
    }
    closeGap();
    return out;
}

}  // namespace palavox::fuzz
