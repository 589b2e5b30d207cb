// Reader for palavox_cases.txt (and original_cases.txt, the same rows as the
// original design answers them), shared by the native tests and the compiled
// Windows clients. Plain standard C++ so both toolchains build it.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "../escaped.hpp"

namespace palavox::cases {

enum class Method { TrataHTML, FindString, RemoverAcentuacao };

struct Case {
    int line = 0;
    Method method = Method::TrataHTML;
    // In call order; the optional argument, when the method has one, comes last.
    std::vector<std::u16string> args;
    std::u16string expectedText;     // TrataHTML, RemoverAcentuacao
    std::int32_t expectedCount = 0;  // FindString
    int expectedError = 0;           // the error number when the call must fail
};

inline std::string Describe(const Case& c) {
    static const char* const names[] = {"TrataHTML", "FindString", "RemoverAcentuacao"};
    std::string out =
        "line " + std::to_string(c.line) + " " + names[static_cast<int>(c.method)] + "(";
    for (std::size_t i = 0; i < c.args.size(); ++i) {
        out += (i ? ", " : "") + test::Escaped(c.args[i]);
    }
    return out + ")";
}

namespace detail {

inline std::u16string Unescape(const std::u16string& field, int line) {
    std::u16string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != u'\\') {
            out += field[i];
            continue;
        }
        const char16_t next = i + 1 < field.size() ? field[++i] : u'\0';
        switch (next) {
            case u'\\':
                out += u'\\';
                break;
            case u't':
                out += u'\t';
                break;
            case u'n':
                out += u'\n';
                break;
            case u'r':
                out += u'\r';
                break;
            case u'0':
                out += u'\0';
                break;
            default:
                throw std::runtime_error("bad escape on line " + std::to_string(line));
        }
    }
    return out;
}

inline std::vector<std::u16string> Split(const std::u16string& line, char16_t separator) {
    std::vector<std::u16string> parts(1);
    for (char16_t c : line) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// "error " and digits, the whole field: no text result is written so
// (gen_cases.py makes sure).
inline bool IsError(const std::u16string& field) {
    if (field.size() < 7 || field.compare(0, 6, u"error ") != 0) return false;
    for (std::size_t i = 6; i < field.size(); ++i) {
        if (field[i] < u'0' || field[i] > u'9') return false;
    }
    return true;
}

inline std::string Ascii(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace detail

// Throws std::runtime_error on a missing file or a malformed line.
inline std::vector<Case> Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + path);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 2 || bytes.size() % 2 != 0 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE) {
        throw std::runtime_error(path + " is not UTF-16LE with a byte order mark");
    }
    std::u16string text;
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    }

    std::vector<Case> cases;
    int number = 0;
    for (const std::u16string& line : detail::Split(text, u'\n')) {
        ++number;
        if (line.empty() || line[0] == u'#') continue;
        std::vector<std::u16string> fields = detail::Split(line, u'\t');
        const std::string method = detail::Ascii(fields[0]);
        Case c;
        c.line = number;
        std::size_t arity = 0;
        if (method == "TrataHTML") {
            c.method = Method::TrataHTML;
            arity = 2;
        } else if (method == "FindString") {
            c.method = Method::FindString;
            arity = 3;
        } else if (method == "RemoverAcentuacao") {
            c.method = Method::RemoverAcentuacao;
            arity = 1;
        } else {
            throw std::runtime_error("unknown method on line " + std::to_string(number));
        }
        if (fields.size() != arity + 2) {
            throw std::runtime_error("wrong field count on line " + std::to_string(number));
        }
        for (std::size_t i = 1; i <= arity; ++i)
            c.args.push_back(detail::Unescape(fields[i], number));
        const std::u16string& expected = fields[arity + 1];
        if (detail::IsError(expected)) {
            c.expectedError = std::stoi(detail::Ascii(expected).substr(6));
        } else if (c.method != Method::FindString) {
            c.expectedText = detail::Unescape(expected, number);
        } else {
            c.expectedCount = static_cast<std::int32_t>(std::stol(detail::Ascii(expected)));
        }
        cases.push_back(std::move(c));
    }
    return cases;
}

#ifdef PALAVOX_SHARED_CASES
// The case file this test program was built against, read once.
inline const std::vector<Case>& Shared() {
    static const std::vector<Case> cases = Load(PALAVOX_SHARED_CASES);
    return cases;
}
#endif

}  // namespace palavox::cases
