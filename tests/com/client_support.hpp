// Shared by the compiled clients of Palavox.dll: a pass/fail tally whose last
// line the Wine runner reads, BSTR helpers and the shared case file.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <cguid.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "cases/shared_cases.hpp"
#include "escaped.hpp"

namespace client {

class Tally {
public:
    bool Check(bool ok, const std::string& what) {
        if (ok) {
            ++passed_;
        } else {
            ++failed_;
            std::printf("FAIL: %s\n", what.c_str());
        }
        return ok;
    }
    // The runner takes this line as the client's verdict; exit code 1 on any failure.
    int Finish() const {
        std::printf("%d passed, %d failed\n", passed_, failed_);
        std::fflush(stdout);
        return failed_ == 0 ? 0 : 1;
    }

private:
    int passed_ = 0;
    int failed_ = 0;
};

inline std::string Hex(long value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08lX", static_cast<unsigned long>(value));
    return buf;
}

inline std::string Narrow(const wchar_t* s) {
    std::string out;
    for (; s != nullptr && *s != 0; ++s) out += *s < 0x80 ? static_cast<char>(*s) : '?';
    return out;
}

// Owns one BSTR. A null BSTR stays null, which callers must treat as "".
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(const std::u16string& text)
        : s_(SysAllocStringLen(nullptr, static_cast<UINT>(text.size()))) {
        if (!text.empty()) std::memcpy(s_, text.data(), text.size() * sizeof(char16_t));
    }
    explicit Bstr(const wchar_t* text) : s_(SysAllocString(text)) {}
    Bstr(Bstr&& other) noexcept : s_(other.s_) { other.s_ = nullptr; }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(s_); }

    BSTR get() const { return s_; }
    BSTR* out() {
        SysFreeString(s_);
        s_ = nullptr;
        return &s_;
    }
    std::u16string text() const {
        std::u16string t(SysStringLen(s_), u'\0');
        if (!t.empty()) std::memcpy(t.data(), s_, t.size() * sizeof(char16_t));
        return t;
    }

private:
    BSTR s_ = nullptr;
};

using palavox::test::Escaped;

// Fewer would mean the case file lost most of its rows.
constexpr std::size_t kMinimumCases = 300;

// The cases of `path`; an unreadable file is one failure and gives none.
inline std::vector<palavox::cases::Case> LoadCases(Tally& t, const char* path) {
    std::vector<palavox::cases::Case> cases;
    try {
        cases = palavox::cases::Load(path);
    } catch (const std::exception& e) {
        t.Check(false, e.what());
        return cases;
    }
    t.Check(cases.size() >= kMinimumCases,
            "case file holds " + std::to_string(cases.size()) + " cases");
    return cases;
}

// Creates the class by its ProgID, as scripting hosts do.
inline HRESULT CreateByProgId(REFIID iid, void** object) {
    CLSID clsid = GUID{};
    const HRESULT hr = CLSIDFromProgID(L"Palavox.PalavoxClass", &clsid);
    return FAILED(hr) ? hr : CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
}

// "Z:\work\...\file" from argv, or a message and exit.
inline const char* Argument(int argc, char** argv, int index, const char* what) {
    if (index < argc) return argv[index];
    std::printf("usage: missing %s\n0 passed, 1 failed\n", what);
    std::exit(2);
}

}  // namespace client
