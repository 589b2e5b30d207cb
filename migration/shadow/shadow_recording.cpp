#include "shadow_recording.hpp"

#include <cstdio>

#include "utf8/utf8.hpp"

namespace palavox::shadow {
namespace {

const char* Name(Method method) noexcept {
    return method == Method::TrataHTML    ? "TrataHTML"
           : method == Method::FindString ? "FindString"
                                          : "RemoverAcentuacao";
}

// One field: \\ \t \n \r \0 and \uXXXX for lone surrogates, the rest as UTF-8.
void Field(std::string& out, std::u16string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const utf8::CodePoint c = utf8::CodePointAt(s, i);
        i += c.units;
        switch (c.value) {
            case U'\\':
                out += "\\\\";
                break;
            case U'\t':
                out += "\\t";
                break;
            case U'\n':
                out += "\\n";
                break;
            case U'\r':
                out += "\\r";
                break;
            case U'\0':
                out += "\\0";
                break;
            default: {
                char bytes[16];
                const char* end = utf8::EncodeCodePoint(c.value, bytes);
                if (end == nullptr) {
                    std::snprintf(bytes, sizeof bytes, "\\u%04X", static_cast<unsigned>(c.value));
                    end = bytes + 6;
                }
                out.append(static_cast<const char*>(bytes), end);
            }
        }
    }
}

std::string Record(const char* name, std::u16string_view value) {
    std::string out = name;
    out += '\t';
    Field(out, value);
    return out + '\n';
}

}  // namespace

bool SameAnswer(const Outcome& a, const Outcome& b) noexcept {
    if (a.kind != b.kind) return false;
    return a.kind == Outcome::Kind::Text ? a.text == b.text : a.number == b.number;
}

std::string CallLine(Method method, const Argument* args, std::size_t count,
                     const Outcome& answer) {
    std::string out = Name(method);
    for (std::size_t i = 0; i < count; ++i) {
        out += '\t';
        if (args[i].omitted) {
            out += "\\-";
        } else {
            Field(out, args[i].text);
        }
    }
    if (answer.kind == Outcome::Kind::Error) {
        out += "\terror\t" + std::to_string(answer.number) + '\t';
        Field(out, answer.text);
    } else if (answer.kind == Outcome::Kind::Count) {
        out += "\tok\t" + std::to_string(answer.number);
    } else {
        out += "\tok\t";
        Field(out, answer.text);
    }
    return out + '\n';
}

std::string HeaderLines(const Header& h, unsigned part) {
    return "palavox-recording\t1\nshadow\t" + std::to_string(part) + '\n' +
           Record("progid", h.progId) + Record("dll", h.dll) + Record("version", h.version) +
           "bitness\t" + std::to_string(h.bits) + '\n' + Record("host", h.host) +
           Record("date", h.date);
}

std::string TotalsLine(std::uint64_t watched, std::uint64_t different, std::uint64_t lost) {
    return "totals\t" + std::to_string(watched) + '\t' + std::to_string(different) + '\t' +
           std::to_string(lost) + '\n';
}

std::string LostLine(std::uint64_t lost) { return "lost\t" + std::to_string(lost) + '\n'; }

Recorder::Recorder(Parts& parts, Header header, Limits limits)
    : parts_(parts), header_(std::move(header)), limits_(limits) {}

bool Recorder::OpenPart(unsigned n) {
    part_ = n;  // tried again at the next record, when it will not open now
    const std::int64_t held = parts_.Open(n);
    if (held < 0) return false;
    const std::string head = HeaderLines(header_, n);
    headSize_ = head.size();
    if (held == 0) {
        if (!parts_.Append(head)) {
            parts_.Close();
            return false;
        }
        size_ = head.size();
    } else {
        size_ = static_cast<std::uint64_t>(held);
    }
    open_ = true;
    return true;
}

bool Recorder::Write(const std::string& line, bool difference) {
    const auto lose = [&] {
        if (difference) {
            ++lost_;
            ++unsaid_;
        }
        return false;
    };
    if (full_) return lose();
    if (!open_ && !OpenPart(part_ == 0 ? 1 : part_)) return lose();
    const std::string said = unsaid_ > 0 ? LostLine(unsaid_) + line : line;
    // A part cut by rotation ends with the totals so far.
    if (size_ + said.size() > limits_.partSize && size_ > headSize_) {
        parts_.Append(TotalsLine(watched_, different_, lost_));
        parts_.Close();
        open_ = false;
        if (part_ == limits_.parts) {
            full_ = true;
            return lose();
        }
        if (!OpenPart(part_ + 1)) return lose();
    }
    if (!parts_.Append(said)) {
        parts_.Close();
        open_ = false;
        return lose();
    }
    size_ += said.size();
    unsaid_ = 0;
    return true;
}

void Recorder::Watched() {
    ++watched_;
    if (watched_ % limits_.totalsEvery == 0) Write(TotalsLine(watched_, different_, lost_), false);
}

void Recorder::Differed(const std::string& record) {
    ++different_;
    Write(record, true);
}

void Recorder::Finish() {
    // Past a part's size, or past the bound, by this one line: the recording
    // keeps its final count.
    if (!open_ && !OpenPart(part_ == 0 ? 1 : part_)) return;
    const std::string totals = TotalsLine(watched_, different_, lost_);
    parts_.Append(unsaid_ > 0 ? LostLine(unsaid_) + totals : totals);
    parts_.Close();
    open_ = false;
}

}  // namespace palavox::shadow
