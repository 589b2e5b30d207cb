// Conversions between automation strings and the portable text type.
// Copies on purpose: wchar_t and char16_t are distinct types, so a BSTR is
// never read through a char16_t pointer.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <new>
#include <string>
#include <string_view>

namespace palavox::com {

// A null BSTR is the empty text.
inline std::u16string ToText(BSTR s) {
    std::u16string text(SysStringLen(s), u'\0');
    if (!text.empty()) std::memcpy(text.data(), s, text.size() * sizeof(char16_t));
    return text;
}

// Throws std::bad_alloc, so the caller's single handler turns it into E_OUTOFMEMORY.
inline BSTR ToBstr(std::u16string_view text) {
    static_assert(sizeof(OLECHAR) == sizeof(char16_t));
    if (text.size() > 0x7FFFFFFFu / sizeof(OLECHAR)) throw std::bad_alloc();
    BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (s == nullptr) throw std::bad_alloc();
    if (!text.empty()) std::memcpy(s, text.data(), text.size() * sizeof(char16_t));
    return s;
}

}  // namespace palavox::com
