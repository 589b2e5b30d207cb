#include "primitives.hpp"

#include <charconv>

#include "count/matcher.hpp"
#include "palavox/error.hpp"

namespace palavox {
namespace {

void RequirePosition(std::size_t position) {
    if (position == 0) throw Error(kInvalidArgument);
}

}  // namespace

std::size_t Length(std::u16string_view text) noexcept { return text.size(); }

std::size_t Find(std::u16string_view text, std::u16string_view search, std::size_t start,
                 CompareMode mode) {
    RequirePosition(start);
    if (start > text.size() + 1) return 0;
    const std::size_t at = detail::Matcher(search, mode).FindFrom(text, start - 1);
    return at == detail::Matcher::npos ? 0 : at + 1;
}

Text Replace(std::u16string_view text, std::u16string_view search, std::u16string_view replacement,
             ReplaceLimit limit, CompareMode mode) {
    if (search.empty()) return Text(text);
    const detail::Matcher matcher(search, mode);
    const std::size_t first = matcher.FindFrom(text, 0);
    if (first == detail::Matcher::npos) return Text(text);

    // Sized before the first append, so the result is the call's one allocation:
    // with a shorter replacement one match gives the longest result, otherwise
    // the matches are counted first.
    std::size_t size = text.size() - search.size() + replacement.size();
    if (limit == ReplaceLimit::All && replacement.size() > search.size()) {
        const std::size_t count = matcher.Count(text);
        size = text.size() + count * (replacement.size() - search.size());
    }
    Text out;
    out.reserve(size);
    std::size_t copied = 0;
    for (std::size_t at = first; at != detail::Matcher::npos; at = matcher.FindFrom(text, copied)) {
        out.append(text.substr(copied, at - copied)).append(replacement);
        copied = at + search.size();
        if (limit == ReplaceLimit::FirstOnly) break;
    }
    out.append(text.substr(copied));
    return out;
}

Text Substring(std::u16string_view text, std::size_t start, std::size_t maxLength) {
    RequirePosition(start);
    if (start > text.size()) return {};
    return Text(text.substr(start - 1, maxLength));
}

Text Concatenate(std::u16string_view a, std::u16string_view b) {
    Text out;
    out.reserve(a.size() + b.size());
    out.append(a).append(b);
    return out;  // by name: returning append's reference would copy the text
}

Text Decimal(std::int32_t value) {
    char digits[12];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec;  // 12 chars always hold an int32
    return Text(digits, end);
}

Text Character(char16_t unit) { return Text(1, unit); }

}  // namespace palavox
