#include "palavox/text.hpp"

#include <charconv>

#include "matcher.hpp"
#include "palavox/error.hpp"

namespace palavox {
namespace detail {

Matcher::Matcher(std::u16string_view search, CompareMode mode)
    : fold_(mode == CompareMode::TextCompare), pattern_(search), border_(search.size(), 0) {
    if (fold_) {
        for (std::size_t i = 0; i < search.size(); ++i) pattern_[i] = FoldedUnitAt(search, i);
    }
    for (std::size_t i = 1, k = 0; i < pattern_.size(); ++i) {
        while (k > 0 && pattern_[i] != pattern_[k]) k = border_[k - 1];
        if (pattern_[i] == pattern_[k]) ++k;
        border_[i] = k;
    }
}

std::size_t Matcher::FindFrom(std::u16string_view text, std::size_t from) const noexcept {
    const std::size_t m = pattern_.size();
    if (m == 0) return from <= text.size() ? from : npos;
    std::size_t k = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char16_t unit = UnitAt(text, i);
        while (k > 0 && unit != pattern_[k]) k = border_[k - 1];
        if (unit == pattern_[k] && ++k == m) return i + 1 - m;
    }
    return npos;
}

}  // namespace detail

namespace {

void RequirePosition(std::size_t position) {
    if (position == 0) throw Error(kInvalidArgument, "Invalid procedure call or argument");
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

Text Replace(std::u16string_view text, std::u16string_view search,
             std::u16string_view replacement, ReplaceLimit limit, CompareMode mode) {
    if (search.empty()) return Text(text);
    const detail::Matcher matcher(search, mode);
    Text out;
    std::size_t copied = 0;
    for (std::size_t at = matcher.FindFrom(text, 0); at != detail::Matcher::npos;
         at = matcher.FindFrom(text, copied)) {
        out.append(text.substr(copied, at - copied)).append(replacement);
        copied = at + search.size();
        if (limit == ReplaceLimit::FirstOnly) break;
    }
    if (copied == 0) return Text(text);
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
    return out.append(a).append(b);
}

Text Decimal(std::int32_t value) {
    char digits[12];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
    (void)ec;  // 12 chars always hold an int32
    return Text(digits, end);
}

Text Character(char16_t unit) { return Text(1, unit); }

}  // namespace palavox
