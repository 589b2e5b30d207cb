#include "stream.hpp"

#include <algorithm>

#include "palavox/error.hpp"
#include "palavox/mod_palavox.hpp"
#include "palavox/text.hpp"
#include "utf8.hpp"
#include "utf8_routines.hpp"

namespace palavox::cli {
namespace {

constexpr bool IsHighSurrogate(char16_t u) noexcept {
    return (u & 0xFC00) == 0xD800;
}
constexpr bool IsLowSurrogate(char16_t u) noexcept { return (u & 0xFC00) == 0xDC00; }

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

void Decoder::Feed(std::string_view bytes, Out out) {
    // Up to three bytes tell a byte-order mark; until then they wait, one at a time.
    while (encoding_ == Encoding::Unknown && !bytes.empty()) {
        pending_ += bytes.front();
        bytes.remove_prefix(1);
        DetectEncoding();
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

void Decoder::DetectEncoding() {
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
}

// Hands on the longest valid prefix of `bytes`, and keeps a sequence cut short by its end.
void Decoder::Utf8Piece(std::string_view bytes, Out out) {
    utf8::Decoded decoded;
    if (out.units != nullptr) {
        char16_t* const at = out.units->Reserve(bytes.size());
        decoded = utf8::Decode(bytes, at);
        out.units->Commit(decoded.units);
    } else {
        decoded = utf8::Validate(bytes);
        if (decoded.valid != 0) out.utf8->Write(bytes.substr(0, decoded.valid));
    }
    offset_ += decoded.valid;
    if (decoded.valid == bytes.size()) return;
    if (!decoded.truncated) throw InvalidInput("UTF-8", offset_);
    pending_.assign(bytes.substr(decoded.valid));
}

void Decoder::FeedUtf8(std::string_view bytes, Out out) {
    if (!pending_.empty()) {
        // Complete the unfinished sequence from the front of this piece.
        const std::size_t length = utf8::SequenceLength(static_cast<unsigned char>(pending_[0]));
        const std::size_t take = std::min(length - pending_.size(), bytes.size());
        pending_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (pending_.size() < length) {
            // Still unfinished, this piece being shorter; but what came is checked.
            const utf8::Decoded decoded = utf8::Validate(pending_);
            if (!decoded.truncated) throw InvalidInput("UTF-8", offset_);
            return;
        }
        std::string sequence;
        sequence.swap(pending_);
        Utf8Piece(sequence, out);
    }
    if (!bytes.empty()) Utf8Piece(bytes, out);
}

void Decoder::FeedUtf16(std::string_view bytes, Out out) {
    Buffer<char16_t>& units = out.units != nullptr ? *out.units : scratch_;
    if (out.units == nullptr) scratch_.Clear();
    const bool little = encoding_ == Encoding::Utf16LE;
    char16_t* at = units.Reserve(bytes.size() / 2 + 2);
    char16_t* const begin = at;
    const auto put = [&](unsigned char a, unsigned char b) {
        const auto u = static_cast<char16_t>(little ? (a | b << 8) : (a << 8 | b));
        if (high_ != 0) {
            // high_'s own two bytes are already counted in offset_.
            if (!IsLowSurrogate(u)) throw InvalidInput("UTF-16", offset_ - 2);
            *at++ = high_;
            *at++ = u;
            high_ = 0;
        } else if (IsHighSurrogate(u)) {
            high_ = u;
        } else if (IsLowSurrogate(u)) {
            throw InvalidInput("UTF-16", offset_);
        } else {
            *at++ = u;
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
    for (std::size_t i = 0; i + 1 < n; i += 2) put(p[i], p[i + 1]);
    if (n % 2 != 0) pending_.assign(1, static_cast<char>(p[n - 1]));
    units.Commit(static_cast<std::size_t>(at - begin));
    if (out.units != nullptr || scratch_.empty()) return;
    // Whole code points only, so the units have a UTF-8 form.
    char* const encoded = encoded_.Reserve(3 * scratch_.size());
    const char* const end = utf8::Encode(scratch_.view(), encoded);
    out.utf8->Write({encoded, static_cast<std::size_t>(end - encoded)});
}

void Decoder::Finish(Out out) {
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

// ---- Folding and link markup

void ByteStream::Feed(std::string_view bytes) {
    decoder_.Feed(bytes, valid_);
    Flush();
}

void ByteStream::Finish() {
    decoder_.Finish(valid_);
    End();
    Flush();
}

void ByteStream::Flush() {
    if (output_.empty()) return;
    out_.Write(output_.view());
    output_.Clear();
}

void FoldStream::Take(std::string_view valid) {
    char* const at = output_.Reserve(valid.size());
    output_.Commit(static_cast<std::size_t>(utf8::TrocaAcentos(valid, at) - at));
}

void LinkStream::MarkUp(std::string_view piece) {
    const std::size_t size = utf8::ConverteLinksSize(piece, target_);
    utf8::ConverteLinks(piece, target_, output_.Reserve(size));
    output_.Commit(size);
}

// held_ is empty: marks up to the last link end, passes on what has no
// "http", and holds back the rest.
void LinkStream::Split(std::string_view piece) {
    std::size_t end = piece.size();
    while (end > 0 && !utf8::EndsLink(piece[end - 1])) --end;
    MarkUp(piece.substr(0, end));
    const std::string_view rest = piece.substr(end);
    std::size_t cut = utf8::FindLinkStart(rest);
    inLink_ = cut != std::string_view::npos;  // a link starts there and has not ended yet
    // Otherwise the last three bytes may begin an "http" still to come.
    if (!inLink_) cut = rest.size() >= 3 ? rest.size() - 3 : 0;
    output_.Append(rest.substr(0, cut));  // no "http" in it: nothing to mark up
    held_.assign(rest.substr(cut));
}

void LinkStream::Take(std::string_view valid) {
    if (!held_.empty()) {
        std::size_t end = 0;
        while (end < valid.size() && !utf8::EndsLink(valid[end])) ++end;
        if (end == valid.size()) {
            held_.append(valid);
            if (inLink_) return;  // the link goes on
            std::string joined;
            joined.swap(held_);
            Split(joined);
            return;
        }
        // What was held, up to the first link end: decided whole.
        held_.append(valid.substr(0, end + 1));
        MarkUp(held_);
        held_.clear();
        inLink_ = false;
        valid.remove_prefix(end + 1);
    }
    Split(valid);
}

void LinkStream::End() {
    MarkUp(held_);  // a link still open runs to the end of the text
    held_.clear();
}

// ---- Counting

void CountStream::Feed(std::string_view bytes) {
    const std::size_t before = units_.size();
    decoder_.Feed(bytes, units_);
    total_ += units_.size() - before;
    Process(false);
}

void CountStream::Finish() {
    const std::size_t before = units_.size();
    decoder_.Finish(units_);
    total_ += units_.size() - before;
    Process(true);
}

std::size_t CountStream::CountBetween(std::size_t from, std::size_t to) const {
    if (to <= from) return 0;
    return ModPalavox::ContaOcorrencias(units_.view().substr(from, to - from), procura_,
                                        frame_.mode());
}

std::size_t CountStream::Scan(bool last) {
    const std::u16string_view units = units_.view();
    const std::size_t n = units.size(), m = procura_.size();
    if (m == 0) return n;
    // The first start whose match may still need units not read yet.
    const std::size_t open = last ? n : n >= m - 1 ? n - (m - 1) : 0;
    if (std::any_of(procura_.begin(), procura_.end(),
                    [](char16_t u) { return IsHighSurrogate(u) || IsLowSurrogate(u); })) {
        // A surrogate in the search text folds with its neighbour in the text:
        // match by match, on the units as read, context and all.
        const CompareMode mode = frame_.mode();
        for (std::size_t at; (at = Find(units, procura_, from_ + 1, mode)) != 0;) {
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
         found < std::size(starts) && (at = Find(units, procura_, p + 1, mode)) != 0; p = at) {
        starts[found++] = at - 1;
    }
    if (found == 0) return open;
    const std::size_t before = CountBetween(from_, open);
    if (before == all) return open;
    if (found == 1) return starts[0] + m;
    // Overlapping candidates (a periodic search text): the first whose end adds the match.
    for (std::size_t p = starts[0];;) {
        if (CountBetween(from_, p + m) == before + 1) return p + m;
        const std::size_t at = Find(units, procura_, p + 2, mode);
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
            keep > 0 && keep < n && IsLowSurrogate(units_.data()[keep]) ? keep - 1 : keep;
        units_.EraseFront(drop);
        from_ = keep - drop;
        return;
    }
    const std::string line = std::to_string(frame_.Result(total_, count_)) + "\n";
    out_.Write(line);
}

}  // namespace palavox::cli
