// Automation strings and the portable text types, without copies: an argument
// is read where the caller put it, and a result is written straight into the
// BSTR that the caller receives.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::com {

static_assert(sizeof(OLECHAR) == sizeof(char16_t) && alignof(OLECHAR) == alignof(char16_t),
              "a BSTR holds UTF-16 code units");

// The one place where BSTR units are read as char16_t. wchar_t and char16_t
// are distinct types of the same size, alignment and representation (both
// unsigned 16-bit here, asserted above), so only type-based alias analysis
// could tell them apart, and it needs a write and a read of the same memory
// under the two types in code the compiler sees together. There is none: the
// caller's units were written by the caller or by oleaut32, in other modules,
// before the call, and are only read here, never written, while the call lasts.
// A null BSTR is the empty text. The length is the byte count every BSTR
// carries in the four bytes before its first unit, read as SysStringLen reads
// it (an odd count rounds down), without a call into oleaut32 per argument.
inline std::u16string_view View(BSTR s) noexcept {
    if (s == nullptr) return {};
    UINT bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(s) - sizeof bytes, sizeof bytes);
    return {reinterpret_cast<const char16_t*>(s), bytes / sizeof(OLECHAR)};
}

// Receives a routine's result: asked once for the exact length, it allocates
// the BSTR, and the routine writes its units straight into it. The call's one
// allocation is the result the caller gets. A routine that fails after asking
// leaves the string to the destructor.
class BstrSink final : public TextSink {
public:
    BstrSink() = default;
    BstrSink(const BstrSink&) = delete;
    BstrSink& operator=(const BstrSink&) = delete;
    ~BstrSink() { SysFreeString(result_); }

    // Throws std::bad_alloc, which the caller's single handler turns into E_OUTOFMEMORY.
    char16_t* Allocate(std::size_t units) override {
        // A BSTR's length prefix counts bytes in 32 bits.
        // branch-untaken: a result past 2^30 units needs a text of hundreds of MB no client passes
        if (units > 0x7FFFFFFFu / sizeof(OLECHAR)) throw std::bad_alloc();
        SysFreeString(result_);  // asked twice: only the last answer is kept
        result_ = SysAllocStringLen(nullptr, static_cast<UINT>(units));
        // branch-untaken: only the 32-bit DLL runs out of memory (lifetime_client pressure)
        if (result_ == nullptr) throw std::bad_alloc();
        return reinterpret_cast<char16_t*>(result_);
    }

    // The filled string, now the caller's; null if no result was asked for.
    BSTR Take() noexcept {
        BSTR s = result_;
        result_ = nullptr;
        return s;
    }

private:
    BSTR result_ = nullptr;
};

}  // namespace palavox::com
