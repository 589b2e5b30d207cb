#include "report.hpp"

#include <algorithm>
#include <cstdio>
#include <map>

#include "utf8/utf8.hpp"

namespace palavox::verify {
namespace {

// Texts longer than this are shown as a window of it around what matters.
constexpr std::size_t kShownUnits = 160;
constexpr std::size_t kContext = 60;

// Appends the UTF-8 form of `cp`; false for a lone surrogate, which has none.
bool AppendUtf8(std::string& out, char32_t cp) {
    char bytes[4];
    const char* const end = utf8::EncodeCodePoint(cp, bytes);
    if (end == nullptr) return false;
    out.append(static_cast<const char*>(bytes), end);
    return true;
}

std::string Hex4(unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%04X", value);
    return buffer;
}

// `s` in double quotes: \\ \" \t \n \r \0 and \uXXXX for other controls and
// lone surrogates; everything else as UTF-8.
std::string Quote(std::u16string_view s) {
    std::string out = "\"";
    for (std::size_t i = 0; i < s.size();) {
        const utf8::CodePoint c = utf8::CodePointAt(s, i);
        i += c.units;
        switch (c.value) {
            case U'\\':
                out += "\\\\";
                break;
            case U'"':
                out += "\\\"";
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
                const bool control = c.value < 0x20 || (c.value >= 0x7F && c.value < 0xA0);
                if (control || !AppendUtf8(out, c.value)) out += "\\u" + Hex4(c.value);
            }
        }
    }
    return out + "\"";
}

// The whole text, or a window of it around unit `focus` with its length.
std::string Shown(std::u16string_view s, std::size_t focus) {
    if (s.size() <= kShownUnits) return Quote(s);
    std::size_t begin = focus > kContext ? focus - kContext : 0;
    std::size_t end = std::min(s.size(), begin + 2 * kContext);
    // Never split a surrogate pair at either edge.
    if (begin > 0 && utf8::IsContinuation(s[begin])) --begin;
    if (end < s.size() && utf8::IsContinuation(s[end])) ++end;
    std::string out = (begin > 0 ? "..." : "") + Quote(s.substr(begin, end - begin)) +
                      (end < s.size() ? "..." : "");
    return out + " (" + std::to_string(s.size()) + " units)";
}

std::string Shown(const Outcome& o, std::size_t focus) {
    // branch-untaken: every Outcome::Kind is a case; no other value reaches the switch
    switch (o.kind) {
        case Outcome::Kind::Text:
            return Shown(o.text, focus);
        case Outcome::Kind::Count:
            return std::to_string(o.number);
        case Outcome::Kind::Error:
            break;
    }
    return "error " + std::to_string(o.number) + " (" + Quote(o.text) + ")";
}

std::string Letter(char32_t cp) {
    std::string out;
    // branch-untaken: comparisons disagree on letters only, never on controls or lone surrogates
    if (cp >= 0x20) AppendUtf8(out, cp);  // a lone surrogate goes by its code alone
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
    // branch-untaken: as above, so every letter has its UTF-8 form
    return out.empty() ? code : out + " " + code;
}

std::string Letters(const std::vector<char32_t>& letters) {
    std::string out;
    for (char32_t cp : letters) out += (out.empty() ? "" : ", ") + Letter(cp);
    return out;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : separator) + p;
    return out;
}

// The reason beside the cause's name: what reproduced the recorded count.
std::string Detail(const Explanation& e) {
    if (e.cause != Cause::CaseBeyondAscii) return {};
    return "letters " + Letters(e.letters) + "; the recorded count is what " +
           Joined(e.comparisons, " or ") + " gives";
}

std::string Json(std::string_view utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u" + Hex4(u);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string Recorded(const RecordingSummary& r) {
    std::string out;
    for (const auto& [key, value] : r.header.fields) {
        out += (out.empty() ? "" : "; ") + key + " " + value;
    }
    return out.empty() ? "(no header)" : out;
}

// In Markdown, a shown value goes in a code span that no backtick in it closes.
std::string Code(const std::string& s) {
    std::size_t longest = 0, run = 0;
    for (char c : s) {
        run = c == '`' ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const std::string fence(longest + 1, '`');
    return fence + " " + s + " " + fence;
}

}  // namespace

Difference Describe(const std::string& file, const Call& call, const Outcome& palavox,
                    Explanation explanation) {
    // Where the two texts part: the window of each text shown is around it.
    std::size_t focus = 0;
    // branch-untaken: Palavox's text methods fail only without memory, which no test arranges here
    if (call.recorded.kind == Outcome::Kind::Text && palavox.kind == Outcome::Kind::Text) {
        const std::u16string& a = call.recorded.text;
        const std::u16string& b = palavox.text;
        focus = static_cast<std::size_t>(
            std::mismatch(a.begin(),
                          a.begin() + static_cast<std::ptrdiff_t>(std::min(a.size(), b.size())),
                          b.begin())
                .first -
            a.begin());
    }
    Difference d;
    d.file = file;
    d.line = call.line;
    d.from = call.from;
    d.method = call.method;
    d.call = std::string(MethodName(call.method)) + "(";
    for (std::size_t i = 0; i < call.args.size(); ++i) {
        d.call += i ? ", " : "";
        d.call += call.args[i].omitted ? "omitted" : Shown(call.args[i].text, 0);
    }
    d.call += ")";
    d.recorded = Shown(call.recorded, focus);
    d.palavox = Shown(palavox, focus);
    d.explanation = std::move(explanation);
    return d;
}

ShadowSummary Shadowed(const std::vector<RecordingSummary>& recordings) {
    std::map<std::string, ShadowTotals> byHost;
    ShadowSummary s;
    for (const RecordingSummary& r : recordings) {
        if (!r.header.shadow) continue;
        ++s.recordings;
        std::string host = "file " + r.file;
        for (const auto& [key, value] : r.header.fields) {
            if (key == "host") host = value;
        }
        ShadowTotals& last = byHost[host];
        if (r.totals && r.totals->watched >= last.watched) last = *r.totals;
    }
    for (const auto& [host, t] : byHost) {
        ++s.processes;
        s.watched += t.watched;
        s.different += t.different;
        s.lost += t.lost;
    }
    return s;
}

std::string Verdict(const Totals& t) {
    std::string verdict;
    if (t.unexplained() == 0) {
        verdict = t.different() == 0 ? "every call identical"
                                     : "every difference explained by a deliberate change";
    } else {
        verdict = std::to_string(t.unexplained()) +
                  (t.unexplained() == 1 ? " difference" : " differences") + " unexplained";
    }
    if (t.notRecorded == 0) return verdict;
    return (t.unexplained() == 0 ? std::string() : verdict + "; ") + std::to_string(t.notRecorded) +
           " differing calls not recorded by shadow mode, whose causes are unknown";
}

namespace {

// A line on what shadow mode saw, when a recording came from it.
std::string ShadowLine(const std::vector<RecordingSummary>& recordings) {
    const ShadowSummary s = Shadowed(recordings);
    if (s.recordings == 0) return {};
    return "shadow mode: " + std::to_string(s.watched) + " calls watched in " +
           std::to_string(s.processes) + " host processes, " + std::to_string(s.different) +
           " answered differently, " + std::to_string(s.lost) + " of them not recorded\n";
}

}  // namespace

std::string TextDifference(const Difference& d) {
    std::string out = d.file + " line " + std::to_string(d.line);
    if (!d.from.empty()) out += " (" + d.from + ")";
    out += ": " + std::string(CauseName(d.explanation.cause)) + "\n";
    out += "  call:     " + d.call + "\n";
    out += "  recorded: " + d.recorded + "\n";
    out += "  Palavox:  " + d.palavox + "\n";
    const std::string detail = Detail(d.explanation);
    if (!detail.empty()) out += "  why:      " + detail + "\n";
    return out;
}

std::string TextSummary(const std::vector<RecordingSummary>& recordings, const Totals& t) {
    std::string out;
    for (const RecordingSummary& r : recordings) out += r.file + ": " + Recorded(r) + "\n";
    out += ShadowLine(recordings);
    out += std::to_string(t.calls) + " calls: " + std::to_string(t.identical) + " identical, " +
           std::to_string(t.different()) + " different\n";
    for (int c = 0; c < kCauseCount; ++c) {
        out += "  " + std::string(CauseName(static_cast<Cause>(c))) + ": " +
               std::to_string(t.byCause[static_cast<std::size_t>(c)]) + "\n";
    }
    return out + "verdict: " + Verdict(t) + "\n";
}

std::string MarkdownHead(const std::vector<RecordingSummary>& recordings, const Totals& t) {
    std::string out = "# Palavox verification\n\n**Verdict: " + Verdict(t) + ".**\n\n";
    out += "| Calls | Identical | Different |\n|---:|---:|---:|\n| " + std::to_string(t.calls) +
           " | " + std::to_string(t.identical) + " | " + std::to_string(t.different()) + " |\n\n";
    const std::string shadow = ShadowLine(recordings);
    if (!shadow.empty()) out += "S" + shadow.substr(1) + "\n";
    out += "| Cause of a difference | Calls |\n|---|---:|\n";
    for (int c = 0; c < kCauseCount; ++c) {
        out += "| " + std::string(CauseName(static_cast<Cause>(c))) + " | " +
               std::to_string(t.byCause[static_cast<std::size_t>(c)]) + " |\n";
    }
    out +=
        "\nThe first two causes are the changes Palavox makes on purpose to the original "
        "design's link markup; the third, its case-insensitive comparison by Unicode simple "
        "case folding where the recorded component compared otherwise (see "
        "docs/migrating.md).\n\n## Recordings\n\n";
    for (const RecordingSummary& r : recordings) {
        out += "- " + Code(r.file) + ": " + Recorded(r) + "\n";
    }
    out += "\n## Differences\n\n";
    if (t.different() == 0) out += "None.\n";
    return out;
}

std::string MarkdownDifference(const Difference& d, std::uint64_t number) {
    std::string out = std::to_string(number) + ". **" + CauseName(d.explanation.cause) + "**, " +
                      Code(d.file) + " line " + std::to_string(d.line);
    if (!d.from.empty()) out += " (" + d.from + ")";
    out += "\n   - call: " + Code(d.call) + "\n   - recorded: " + Code(d.recorded) +
           "\n   - Palavox: " + Code(d.palavox) + "\n";
    const std::string detail = Detail(d.explanation);
    if (!detail.empty()) out += "   - why: " + detail + "\n";
    return out;
}

std::string JsonDifference(const Difference& d) {
    std::string out = "{\"file\":" + Json(d.file) + ",\"line\":" + std::to_string(d.line) +
                      ",\"from\":" + Json(d.from) + ",\"method\":" + Json(MethodName(d.method)) +
                      ",\"call\":" + Json(d.call) + ",\"recorded\":" + Json(d.recorded) +
                      ",\"palavox\":" + Json(d.palavox) +
                      ",\"cause\":" + Json(CauseName(d.explanation.cause)) + ",\"letters\":[";
    for (std::size_t i = 0; i < d.explanation.letters.size(); ++i) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(d.explanation.letters[i]));
        if (i) out += ',';
        out += Json(code);
    }
    out += "],\"comparisons\":[";
    for (std::size_t i = 0; i < d.explanation.comparisons.size(); ++i) {
        if (i) out += ',';
        out += Json(d.explanation.comparisons[i]);
    }
    return out + "]}";
}

std::string JsonTail(const std::vector<RecordingSummary>& recordings, const Totals& t) {
    std::string out = "],\"recordings\":[";
    for (std::size_t i = 0; i < recordings.size(); ++i) {
        // Pairs in file order: a header may name several inputs.
        if (i) out += ',';
        out += "{\"file\":" + Json(recordings[i].file) + ",\"header\":[";
        bool first = true;
        for (const auto& [key, value] : recordings[i].header.fields) {
            out += (first ? "[" : ",[") + Json(key) + "," + Json(value) + "]";
            first = false;
        }
        out += "]}";
    }
    const ShadowSummary shadow = Shadowed(recordings);
    out += "],\"shadow\":{\"recordings\":" + std::to_string(shadow.recordings) +
           ",\"processes\":" + std::to_string(shadow.processes) +
           ",\"watched\":" + std::to_string(shadow.watched) +
           ",\"different\":" + std::to_string(shadow.different) +
           ",\"not_recorded\":" + std::to_string(shadow.lost) + "}";
    out += ",\"summary\":{\"calls\":" + std::to_string(t.calls) +
           ",\"identical\":" + std::to_string(t.identical) +
           ",\"different\":" + std::to_string(t.different()) + ",\"by_cause\":{";
    for (int c = 0; c < kCauseCount; ++c) {
        if (c) out += ',';
        out += Json(CauseName(static_cast<Cause>(c))) + ":" +
               std::to_string(t.byCause[static_cast<std::size_t>(c)]);
    }
    return out + "},\"verdict\":" + Json(Verdict(t)) + "}}\n";
}

}  // namespace palavox::verify
