#include "stream.hpp"

#include <algorithm>

#include "palavox/error.hpp"
#include "palavox/mod_palavox.hpp"
#include "palavox/text.hpp"
#include "utf8.hpp"

namespace palavox::cli {
namespace {

constexpr bool IsHighSurrogate(char16_t u) noexcept {
    return (u & 0xFC00) == 0xD800;
}
constexpr bool IsLowSurrogate(char16_t u) noexcept {
    return (u & 0xFC00) == 0xDC00;
}
constexpr bool EndsLink(char16_t u) noexcept {
    return u == u'\r' || u == u' ' || u == u'|';
}

// The routines ask once for the exact length; the storage is reused from one
// piece to the next.
class StringSink final : public TextSink {
public:
    explicit StringSink(std::u16string& s) : s_(s) {}
    char16_t* Allocate(std::size_t units) override {
        s_.resize(units);
        return s_.data();
    }

private:
    std::u16string& s_;
};

const PalavoxClass kPalavox;

std::string Message(const char* encoding, std::uint64_t offset) {
    return std::string("invalid ") + encoding + " at byte offset " + std::to_string(offset);
}

}  // namespace

InvalidInput::InvalidInput(const char* encoding, std::uint64_t offset)
    : std::runtime_error(Message(encoding, offset)), offset_(offset) {}

// ---- Decoder

const char* Decoder::Name() const noexcept {
    return encoding_ == Encoding::Utf16LE || encoding_ == Encoding::Utf16BE ? "UTF-16" : "UTF-8";
}

void Decoder::Feed(std::string_view bytes, std::u16string& out) {
    // Up to three bytes tell a byte-order mark; until then they wait, one at a time.
    while (encoding_ == Encoding::Unknown && !bytes.empty()) {
        pending_ += bytes.front();
        bytes.remove_prefix(1);
        bytes = DetectEncoding(bytes);
        if (encoding_ == Encoding::Utf8 && !pending_.empty()) {
            std::string head;
            head.swap(pending_);
            FeedUtf8(head, out);
        }
    }
    if (encoding_ == Encoding::Utf8) {
        FeedUtf8(bytes, out);
    } else if (encoding_ != Encoding::Unknown) {
        FeedUtf16(bytes, out);
    }
}

std::string_view Decoder::DetectEncoding(std::string_view bytes) {
    const std::string_view p = pending_;
    const auto found = [&](Encoding e) {
        encoding_ = e;
        offset_ = p.size();
        pending_.clear();
    };
    if (p == "\xEF\xBB\xBF") {
        found(Encoding::Utf8);
    } else if (p == "\xFF\xFE") {
        found(Encoding::Utf16LE);
    } else if (p == "\xFE\xFF") {
        found(Encoding::Utf16BE);
    } else if (p != "\xEF" && p != "\xEF\xBB" && p != "\xFF" && p != "\xFE") {
        encoding_ = Encoding::Utf8;  // no mark: pending_ is the text's start
    }
    return bytes;
}

void Decoder::FeedUtf8(std::string_view bytes, std::u16string& out) {
    if (!pending_.empty()) {
        // Complete the unfinished sequence from the front of this piece.
        const std::size_t length =
            utf8::detail::LeadOf(static_cast<unsigned char>(pending_[0])).length;
        const std::size_t take = std::min(length - pending_.size(), bytes.size());
        pending_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        const std::size_t at = out.size();
        out.resize(at + pending_.size());
        const utf8::Decoded decoded = utf8::Decode(pending_, out.data() + at);
        out.resize(at + decoded.units);
        if (decoded.valid == 0) {
            if (decoded.truncated) return;  // still unfinished: this piece was shorter
            throw InvalidInput("UTF-8", offset_);
        }
        offset_ += pending_.size();
        pending_.clear();
    }
    const std::size_t at = out.size();
    out.resize(at + bytes.size());
    const utf8::Decoded decoded = utf8::Decode(bytes, out.data() + at);
    out.resize(at + decoded.units);
    offset_ += decoded.valid;
    if (decoded.valid == bytes.size()) return;
    if (!decoded.truncated) throw InvalidInput("UTF-8", offset_);
    pending_.assign(bytes.substr(decoded.valid));
}

void Decoder::FeedUtf16(std::string_view bytes, std::u16string& out) {
    const bool little = encoding_ == Encoding::Utf16LE;
    const auto put = [&](unsigned char a, unsigned char b) {
        const auto u = static_cast<char16_t>(little ? (a | b << 8) : (a << 8 | b));
        if (high_ != 0) {
            // high_'s own two bytes are already counted in offset_.
            if (!IsLowSurrogate(u)) throw InvalidInput("UTF-16", offset_ - 2);
            out += high_;
            out += u;
            high_ = 0;
        } else if (IsHighSurrogate(u)) {
            high_ = u;
        } else if (IsLowSurrogate(u)) {
            throw InvalidInput("UTF-16", offset_);
        } else {
            out += u;
        }
        offset_ += 2;
    };
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    if (!pending_.empty() && n > 0) {
        put(static_cast<unsigned char>(pending_[0]), p[0]);
        pending_.clear();
        ++p;
        --n;
    }
    out.reserve(out.size() + n / 2);
    for (std::size_t i = 0; i + 1 < n; i += 2) put(p[i], p[i + 1]);
    if (n % 2 != 0) pending_.assign(1, static_cast<char>(p[n - 1]));
}

void Decoder::Finish(std::u16string& out) {
    if (encoding_ == Encoding::Unknown) {
        // Shorter than any mark it began like: plain UTF-8 (or nothing).
        encoding_ = Encoding::Utf8;
        std::string head;
        head.swap(pending_);
        FeedUtf8(head, out);
    }
    if (high_ != 0) throw InvalidInput(Name(), offset_ - 2);
    if (!pending_.empty()) throw InvalidInput(Name(), offset_);
}

// ---- Stream

void Stream::Feed(std::string_view bytes) {
    const std::size_t before = units_.size();
    decoder_.Feed(bytes, units_);
    total_ += units_.size() - before;
    Process(false);
}

void Stream::Finish() {
    const std::size_t before = units_.size();
    decoder_.Finish(units_);
    total_ += units_.size() - before;
    Process(true);
}

void Stream::Emit(std::u16string_view units) {
    if (units.empty()) return;
    if (encoded_.size() < 3 * units.size()) encoded_.resize(3 * units.size());
    const char* const end = utf8::EncodeChecked(units, encoded_.data());
    // Pieces are cut between code points, and valid input holds no lone surrogate.
    if (end == nullptr) throw std::logic_error("a piece split a surrogate pair");
    out_.Write({encoded_.data(), static_cast<std::size_t>(end - encoded_.data())});
}

void FoldStream::Process(bool) {
    if (units_.empty()) return;
    StringSink sink(folded_);
    kPalavox.RemoverAcentuacao(units_, sink);
    Emit(folded_);
    units_.clear();
}

void LinkStream::MarkUp(std::u16string_view piece) {
    StringSink sink(marked_);
    kPalavox.TrataHTML(piece, target_, sink);
    Emit(marked_);
}

void LinkStream::Process(bool last) {
    if (last) {
        MarkUp(units_);
        units_.clear();
        return;
    }
    const std::u16string_view units = units_;
    // Just after the last link end; nothing before scanned_ needs looking at again.
    std::size_t end = 0;
    for (std::size_t i = units.size(); i > scanned_; --i) {
        if (EndsLink(units[i - 1])) {
            end = i;
            break;
        }
    }
    if (end == 0 && inLink_) {  // the link goes on
        scanned_ = units.size();
        return;
    }
    const std::u16string_view rest = units.substr(end);
    std::size_t cut;
    if (const std::size_t http = Find(rest, u"http", 1, CompareMode::TextCompare); http != 0) {
        cut = end + http - 1;  // a link starts there and has not ended yet
        inLink_ = true;
    } else {
        // The last three units may begin an "http" still to come.
        cut = std::max(end, units.size() >= 3 ? units.size() - 3 : 0);
        if (cut > end && IsHighSurrogate(units[cut - 1])) --cut;
        inLink_ = false;
    }
    MarkUp(units.substr(0, end));
    Emit(units.substr(end, cut - end));  // no "http" in it: nothing to mark up
    units_.erase(0, cut);
    scanned_ = units_.size();
}

std::size_t CountStream::CountBetween(std::size_t from, std::size_t to) const {
    if (to <= from) return 0;
    return ModPalavox::ContaOcorrencias(std::u16string_view(units_).substr(from, to - from),
                                        procura_, frame_.mode());
}

std::size_t CountStream::Scan(bool last) {
    const std::size_t n = units_.size(), m = procura_.size();
    if (m == 0) return n;
    // The first start whose match may still need units not read yet.
    const std::size_t open = last ? n : n >= m - 1 ? n - (m - 1) : 0;
    if (std::any_of(procura_.begin(), procura_.end(),
                    [](char16_t u) { return IsHighSurrogate(u) || IsLowSurrogate(u); })) {
        // A surrogate in the search text folds with its neighbour in the text:
        // match by match, on the units as read, context and all.
        const CompareMode mode = frame_.mode();
        for (std::size_t at; (at = Find(units_, procura_, from_ + 1, mode)) != 0;) {
            ++count_;
            from_ = at - 1 + m;
        }
        return std::max(from_, open);
    }
    // Otherwise no match touches a surrogate, so counting a part of the text
    // gives the matches of the whole that end within it (greedy matching
    // decides each start from units before its end).
    const std::size_t all = CountBetween(from_, n);
    count_ += all;
    if (last || open <= from_) return std::max(from_, open);
    // At most one match ends after `open`; where, decides where scanning
    // resumes. Its start is one of those in [open - m + 1, n - m].
    const CompareMode mode = frame_.mode();
    std::size_t starts[2];
    std::size_t found = 0;
    for (std::size_t p = std::max(from_, open >= m - 1 ? open - (m - 1) : 0), at;
         found < std::size(starts) && (at = Find(units_, procura_, p + 1, mode)) != 0; p = at) {
        starts[found++] = at - 1;
    }
    if (found == 0) return open;
    const std::size_t before = CountBetween(from_, open);
    if (before == all) return open;
    if (found == 1) return starts[0] + m;
    // Overlapping candidates (a periodic search text): the first whose end adds the match.
    for (std::size_t p = starts[0];;) {
        if (CountBetween(from_, p + m) == before + 1) return p + m;
        const std::size_t at = Find(units_, procura_, p + 2, mode);
        if (at == 0) return open;  // not reached: one of the candidates ends it
        p = at - 1;
    }
}

void CountStream::Process(bool last) {
    const std::size_t keep = Scan(last);
    if (!last) {
        // Keep from where a match may still start, and the unit before a low
        // surrogate there: it folds together with its high one.
        const std::size_t n = units_.size();
        const std::size_t drop =
            keep > 0 && keep < n && IsLowSurrogate(units_[keep]) ? keep - 1 : keep;
        units_.erase(0, drop);
        from_ = keep - drop;
        return;
    }
    const std::string line = std::to_string(frame_.Result(total_, count_)) + "\n";
    Emit(std::u16string(line.begin(), line.end()));
}

}  // namespace palavox::cli
