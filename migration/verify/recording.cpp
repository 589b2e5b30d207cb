#include "recording.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "utf8/utf8.hpp"

namespace palavox::verify {
namespace {

constexpr std::string_view kMagic = "palavox-recording";
constexpr std::string_view kVersion = "1";

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseInteger(std::string_view s, std::int64_t& value) {
    if (s.empty()) return false;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size();
}

// Up to 40 bytes of `s` for a message, never ending inside a character.
std::string Quoted(std::string_view s) {
    const std::size_t shown = utf8::WholePrefix(s, 40);
    std::string out = "'";
    for (char c : s.substr(0, shown)) out += (static_cast<unsigned char>(c) < 0x20) ? '?' : c;
    return out + (shown < s.size() ? "...'" : "'");
}

}  // namespace

const char* MethodName(Method method) noexcept {
    // branch-untaken: every Method is a case; no other value reaches the switch
    switch (method) {
        case Method::TrataHTML:
            return "TrataHTML";
        case Method::FindString:
            return "FindString";
        case Method::RemoverAcentuacao:
            break;
    }
    return "RemoverAcentuacao";
}

bool Outcome::operator==(const Outcome& other) const noexcept {
    if (kind != other.kind) return false;
    // branch-untaken: every Outcome::Kind is a case; no other value reaches the switch
    switch (kind) {
        case Kind::Text:
            return text == other.text;
        case Kind::Count:
        case Kind::Error:  // the number decides; descriptions vary with the language
            break;
    }
    return number == other.number;
}

void RecordingReader::Feed(std::string_view bytes, std::vector<Call>& calls) {
    while (!bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        if (newline == std::string_view::npos) {
            pending_.append(bytes);
            return;
        }
        std::string_view line = bytes.substr(0, newline);
        bytes.remove_prefix(newline + 1);
        if (!pending_.empty()) {
            pending_.append(line);
            line = pending_;
        }
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ++lineNumber_;
        Line(line, calls);
        pending_.clear();
    }
}

void RecordingReader::Finish() {
    if (!pending_.empty() && !header_.shadow) {
        throw RecordingError(lineNumber_ + 1,
                             "the recording stops in the middle of this line: it is truncated");
    }
    if (!started_) throw RecordingError(0, "the file is empty: not a recording");
    if (!ended_ && !header_.shadow) {
        throw RecordingError(lineNumber_,
                             "the recording stops after this line without its end line: it is "
                             "truncated");
    }
}

// One escaped field: \\ \t \n \r \0 \uXXXX, any other UTF-8 as itself. As an
// argument, "\-" alone is an omitted argument and "\@" alone the last text.
std::u16string RecordingReader::Field(std::string_view field, bool argument, bool* omitted) {
    if (argument && field == "\\@") {
        if (!text_) throw RecordingError(lineNumber_, "\\@ with no text line before it");
        usedText_ = true;
        return *text_;
    }
    if (argument && field == "\\-") {
        if (omitted == nullptr) {
            throw RecordingError(lineNumber_, "\\- (omitted) for an argument that is required");
        }
        *omitted = true;
        return {};
    }
    std::u16string out(field.size(), u'\0');
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < field.size()) {
        const std::size_t slash = field.find('\\', i);
        const std::string_view run = field.substr(i, slash - i);
        if (run.find('\r') != std::string_view::npos) {
            throw RecordingError(lineNumber_, "a carriage return inside a field (write \\r)");
        }
        const utf8::Decoded decoded = utf8::Decode(run, out.data() + units);
        if (decoded.valid != run.size()) {
            throw RecordingError(
                lineNumber_,
                "not valid UTF-8 at byte " + std::to_string(i + decoded.valid + 1) + " of a field");
        }
        units += decoded.units;
        if (slash == std::string_view::npos) break;
        const char kind = slash + 1 < field.size() ? field[slash + 1] : '\0';
        i = slash + 2;
        switch (kind) {
            case '\\':
                out[units++] = u'\\';
                break;
            case 't':
                out[units++] = u'\t';
                break;
            case 'n':
                out[units++] = u'\n';
                break;
            case 'r':
                out[units++] = u'\r';
                break;
            case '0':
                out[units++] = u'\0';
                break;
            case 'u': {
                unsigned value = 0;
                for (std::size_t k = 0; k < 4; ++k) {
                    const int digit =
                        slash + 2 + k < field.size() ? HexDigit(field[slash + 2 + k]) : -1;
                    if (digit < 0) throw RecordingError(lineNumber_, "\\u needs four hex digits");
                    value = value * 16 + static_cast<unsigned>(digit);
                }
                out[units++] = static_cast<char16_t>(value);
                i += 4;
                break;
            }
            default: {
                // The backslash and the whole character after it.
                const std::size_t length = std::max<std::size_t>(
                    1, utf8::SequenceLength(static_cast<unsigned char>(kind)));
                throw RecordingError(lineNumber_, "unknown escape " +
                                                      Quoted(field.substr(slash, 1 + length)) +
                                                      " (\\\\ \\t \\n \\r \\0 \\uXXXX)");
            }
        }
    }
    out.resize(units);
    return out;
}

void RecordingReader::Line(std::string_view line, std::vector<Call>& calls) {
    const std::vector<std::string_view> f = SplitTabs(line);
    const std::string_view keyword = f[0];
    const auto expect = [&](std::size_t count) {
        if (f.size() != count) {
            throw RecordingError(lineNumber_, std::string(keyword) + " needs " +
                                                  std::to_string(count) + " fields, not " +
                                                  std::to_string(f.size()));
        }
    };
    if (!started_) {
        if (keyword != kMagic) {
            throw RecordingError(lineNumber_, "not a recording: the first line is not '" +
                                                  std::string(kMagic) + "<TAB>1'");
        }
        expect(2);
        if (f[1] != kVersion) {
            throw RecordingError(lineNumber_,
                                 "recording format " + Quoted(f[1]) + ": this palavox reads 1");
        }
        started_ = true;
        return;
    }
    if (ended_) throw RecordingError(lineNumber_, "a line after the end line");
    if (keyword.empty()) throw RecordingError(lineNumber_, "a line without a record name");
    if (keyword[0] == '#') return;

    Method method;
    std::size_t arity = 0;
    std::size_t optional = 0;  // 1-based position of the optional argument, 0 for none
    if (keyword == "TrataHTML") {
        method = Method::TrataHTML;
        arity = 2;
        optional = 2;
    } else if (keyword == "FindString") {
        method = Method::FindString;
        arity = 3;
        optional = 3;
    } else if (keyword == "RemoverAcentuacao") {
        method = Method::RemoverAcentuacao;
        arity = 1;
    } else if (keyword == "text") {
        expect(4);
        text_ = Field(f[3], false, nullptr);
        textFrom_ = "input " + std::string(f[1]) + " " +
                    (f[2] == "whole" ? std::string("whole") : "line " + std::string(f[2]));
        ++texts_;
        return;
    } else if (keyword == "end") {
        expect(3);
        std::int64_t texts = 0;
        std::int64_t count = 0;
        if (!ParseInteger(f[1], texts) || !ParseInteger(f[2], count)) {
            throw RecordingError(lineNumber_, "the end line needs two counts: texts and calls");
        }
        if (static_cast<std::uint64_t>(texts) != texts_ ||
            static_cast<std::uint64_t>(count) != calls_) {
            throw RecordingError(lineNumber_, "the end line counts " + std::to_string(texts) +
                                                  " texts and " + std::to_string(count) +
                                                  " calls, but the recording holds " +
                                                  std::to_string(texts_) + " and " +
                                                  std::to_string(calls_) + ": lines are missing");
        }
        ended_ = true;
        return;
    } else if (keyword == "totals" || keyword == "lost") {
        if (!header_.shadow) {
            throw RecordingError(lineNumber_, "a " + std::string(keyword) +
                                                  " line belongs to a shadow recording, and "
                                                  "this one's header has no shadow line");
        }
        expect(keyword == "totals" ? 4 : 2);
        std::int64_t n[3] = {};
        for (std::size_t i = 1; i < f.size(); ++i) {
            if (!ParseInteger(f[i], n[i - 1]) || n[i - 1] < 0) {
                throw RecordingError(lineNumber_, "a " + std::string(keyword) +
                                                      " line needs counts, not " + Quoted(f[i]));
            }
        }
        if (keyword == "totals") {
            totals_ =
                ShadowTotals{static_cast<std::uint64_t>(n[0]), static_cast<std::uint64_t>(n[1]),
                             static_cast<std::uint64_t>(n[2])};
        }
        return;
    } else if (keyword == "progid" || keyword == "dll" || keyword == "version" ||
               keyword == "bitness" || keyword == "date" || keyword == "host" ||
               keyword == "input" || keyword == "shadow") {
        header_.shadow = header_.shadow || keyword == "shadow";
        if (f.size() < 2) expect(2);
        std::string value;
        for (std::size_t i = 1; i < f.size(); ++i) {
            std::u16string units = Field(f[i], false, nullptr);
            std::string utf8(units.size() * 3, '\0');
            char* end = utf8::EncodeChecked(units, utf8.data());
            if (end == nullptr) throw RecordingError(lineNumber_, "a lone surrogate in the header");
            utf8.resize(static_cast<std::size_t>(end - utf8.data()));
            value += (i > 1 ? " " : "") + utf8;
        }
        header_.fields.emplace_back(std::string(keyword), std::move(value));
        return;
    } else {
        throw RecordingError(lineNumber_, "unknown record " + Quoted(keyword));
    }

    // A call: its arguments, then "ok" and the result or "error", number, description.
    if (f.size() < arity + 3) {
        throw RecordingError(lineNumber_, std::string(keyword) + " needs " + std::to_string(arity) +
                                              " arguments and a result");
    }
    Call call;
    call.method = method;
    call.line = lineNumber_;
    usedText_ = false;
    for (std::size_t i = 1; i <= arity; ++i) {
        Argument a;
        a.text = Field(f[i], true, i == optional ? &a.omitted : nullptr);
        call.args.push_back(std::move(a));
    }
    if (usedText_) call.from = textFrom_;
    const std::string_view kind = f[arity + 1];
    if (kind == "ok") {
        if (f.size() != arity + 3) expect(arity + 3);
        if (method == Method::FindString) {
            call.recorded.kind = Outcome::Kind::Count;
            if (!ParseInteger(f[arity + 2], call.recorded.number)) {
                throw RecordingError(lineNumber_, "FindString's result is not a whole number: " +
                                                      Quoted(f[arity + 2]));
            }
        } else {
            call.recorded.kind = Outcome::Kind::Text;
            call.recorded.text = Field(f[arity + 2], false, nullptr);
        }
    } else if (kind == "error") {
        if (f.size() != arity + 4) expect(arity + 4);
        call.recorded.kind = Outcome::Kind::Error;
        if (!ParseInteger(f[arity + 2], call.recorded.number)) {
            throw RecordingError(lineNumber_,
                                 "the error number is not a whole number: " + Quoted(f[arity + 2]));
        }
        call.recorded.text = Field(f[arity + 3], false, nullptr);
    } else {
        throw RecordingError(lineNumber_,
                             "the result must start with 'ok' or 'error', not " + Quoted(kind));
    }
    ++calls_;
    calls.push_back(std::move(call));
}

}  // namespace palavox::verify
