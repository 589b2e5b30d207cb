// Readable UTF-16 in failure reports, for the unit tests and the fuzz targets.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace palavox::test {

// Printable ASCII as is, every other code unit as \uXXXX, so a failure shows
// exactly which unit differs (NUL, CR, lone surrogates included).
inline std::string Escaped(std::u16string_view s) {
    std::string out = "\"";
    for (char16_t c : s) {
        if (c == u'\\' || c == u'"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
            out += buf;
        }
    }
    out += '"';
    return out;
}

}  // namespace palavox::test
