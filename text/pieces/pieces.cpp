#include "pieces.hpp"

#include <algorithm>
#include <cstring>

#include "palavox/mod_palavox.hpp"
#include "primitives/primitives.hpp"
#include "utf8/utf8.hpp"
#include "fold/utf8_fold.hpp"
#include "links/utf8_links.hpp"

namespace palavox::pieces {
namespace {

// Input is worked this much at a time: small enough to stay in cache between
// checking and working it, and to bound what is held when the output is full.
constexpr std::size_t kChunk = 64 * 1024;
// Counting scans within a step once this many units wait (and at each step's end).
constexpr std::size_t kScanAt = 256 * 1024;

constexpr bool IsHighSurrogate(char16_t u) noexcept { return (u & 0xFC00) == 0xD800; }
constexpr bool IsLowSurrogate(char16_t u) noexcept { return (u & 0xFC00) == 0xDC00; }

}  // namespace

// ---- Decoder

namespace detail {

Decoder::Decoder(Input input) noexcept
    : encoding_(input == Input::Utf8 ? Encoding::Utf8 : Encoding::Unknown) {}

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
        if (decoded.valid != 0) out.utf8->Take(bytes.substr(0, decoded.valid));
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
    // branch-untaken: no stream feeds an empty piece (Step returns before reading one)
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
    out.utf8->Take({encoded, static_cast<std::size_t>(end - encoded)});
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

}  // namespace detail

// ---- Steps and output

std::uint64_t Stream::offset() const noexcept {
    return faultAt_ != kNoFault ? faultAt_ : decoder_.offset();
}

template <class Body>
void Stream::Guarded(OutBuffer& out, Body body) {
    if (failure_) std::rethrow_exception(failure_);
    out_ = &out;
    try {
        body();
    } catch (const InvalidInput& e) {
        faultAt_ = e.offset();
        failure_ = std::current_exception();
        out_ = nullptr;
        throw;
    } catch (...) {
        failure_ = std::current_exception();
        out_ = nullptr;
        throw;
    }
    out_ = nullptr;
}

void Stream::Step(InBuffer& in, OutBuffer& out) {
    if (state_ != State::Open && !failure_) throw Error(kInvalidArgument);
    Guarded(out, [&] {
        if (!Flush(out) || in.pos >= in.size) return;
        do {
            const std::size_t take = std::min(in.size - in.pos, kChunk);
            Read({in.src + in.pos, take});
            in.pos += take;
        } while (Flush(out) && in.pos < in.size);
        Settle();
    });
}

std::size_t Stream::End(OutBuffer& out) {
    std::size_t left = 0;
    Guarded(out, [&] {
        if (state_ == State::Open) {
            state_ = State::Ended;
            Close();
        }
        Flush(out);
        left = pending_.size() - flushed_;
    });
    return left;
}

char* Stream::Reserve(std::size_t most) {
    // branch-untaken: output with room has storage (the C interface refuses any without)
    if (pending_.empty() && out_->size - out_->pos >= most && out_->dst != nullptr) {
        direct_ = out_->dst + out_->pos;
        return direct_;
    }
    direct_ = nullptr;
    return pending_.Reserve(most);
}

void Stream::Commit(const char* end) noexcept {
    if (direct_ != nullptr) {
        out_->pos = static_cast<std::size_t>(end - out_->dst);
    } else {
        pending_.Commit(static_cast<std::size_t>(end - (pending_.data() + pending_.size())));
    }
}

bool Stream::Flush(OutBuffer& out) noexcept {
    const std::size_t left = pending_.size() - flushed_;
    if (left == 0) return true;
    const char* const from = pending_.data() + flushed_;
    const std::size_t n = utf8::WholePrefix({from, left}, out.size - out.pos);
    if (n > 0) std::memcpy(out.dst + out.pos, from, n);
    out.pos += n;
    flushed_ += n;
    if (flushed_ < pending_.size()) return false;
    pending_.Clear();
    flushed_ = 0;
    return true;
}

// ---- Folding

void FoldStream::Take(std::string_view valid) {
    char* const at = Reserve(valid.size());  // folding never lengthens a text
    Commit(utf8::TrocaAcentos(valid, at));
}

// ---- Link markup

LinkStream::LinkStream(std::string_view target, Input input) : Stream(input) {
    if (utf8::Validate(target).valid != target.size()) throw Error(kInvalidArgument);
    target_.assign(target);
}

void LinkStream::MarkUp(std::string_view piece) {
    if (piece.empty()) return;
    const std::size_t size = utf8::ConverteLinksSize(piece, target_);
    char* const at = Reserve(size);
    Commit(utf8::ConverteLinks(piece, target_, at));
}

void LinkStream::Copy(std::string_view piece) {
    if (piece.empty()) return;
    char* const at = Reserve(piece.size());
    std::memcpy(at, piece.data(), piece.size());
    Commit(at + piece.size());
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
    if (!inLink_) {
        // The last three bytes may begin an "http" still to come: held from
        // the start of their code point.
        cut = utf8::WholePrefix(rest, rest.size() >= 3 ? rest.size() - 3 : 0);
    }
    Copy(rest.substr(0, cut));  // no "http" in it: nothing to mark up
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

void LinkStream::Close() {
    decoder_.Finish(*this);
    MarkUp(held_);  // a link still open runs to the end of the text
    held_.clear();
}

// ---- Counting

CountStream::CountStream(std::u16string procura, CompareMode mode, Input input)
    : Stream(input),
      procura_(std::move(procura)),
      mode_(mode),
      surrogates_(std::any_of(procura_.begin(), procura_.end(),
                              [](char16_t u) { return IsHighSurrogate(u) || IsLowSurrogate(u); })),
      scanAt_(std::max(kScanAt, 4 * procura_.size())) {}

void CountStream::Read(std::string_view bytes) {
    const std::size_t before = units_.size();
    decoder_.Feed(bytes, units_);
    total_ += units_.size() - before;
    if (units_.size() >= scanAt_) Process(false);
}

void CountStream::Close() {
    const std::size_t before = units_.size();
    decoder_.Finish(units_);
    total_ += units_.size() - before;
    Process(true);
}

std::size_t CountStream::CountBetween(std::size_t from, std::size_t to) const {
    if (to <= from) return 0;
    return ModPalavox::ContaOcorrencias(units_.view().substr(from, to - from), procura_, mode_);
}

std::size_t CountStream::Scan(bool last) {
    const std::u16string_view units = units_.view();
    const std::size_t n = units.size(), m = procura_.size();
    if (m == 0) return n;
    // The first start whose match may still need units not read yet.
    const std::size_t open = last ? n : n >= m - 1 ? n - (m - 1) : 0;
    if (surrogates_) {
        // A surrogate in the search text folds with its neighbour in the text:
        // match by match, on the units as read, context and all.
        for (std::size_t at; (at = Find(units, procura_, from_ + 1, mode_)) != 0;) {
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
    std::size_t starts[2];
    std::size_t found = 0;
    for (std::size_t p = std::max(from_, open >= m - 1 ? open - (m - 1) : 0), at;
         found < std::size(starts) && (at = Find(units, procura_, p + 1, mode_)) != 0; p = at) {
        starts[found++] = at - 1;
    }
    if (found == 0) return open;
    const std::size_t before = CountBetween(from_, open);
    if (before == all) return open;
    if (found == 1) return starts[0] + m;
    // Overlapping candidates (a periodic search text): the first whose end adds the match.
    for (std::size_t p = starts[0];;) {
        if (CountBetween(from_, p + m) == before + 1) return p + m;
        const std::size_t at = Find(units, procura_, p + 2, mode_);
        // branch-untaken: not reached, one of the candidates ends it
        if (at == 0) return open;
        p = at - 1;
    }
}

void CountStream::Process(bool last) {
    const std::size_t keep = Scan(last);
    if (last) {
        units_.Clear();
        from_ = 0;
        return;
    }
    // Keep from where a match may still start, and the unit before a low
    // surrogate there: it folds together with its high one.
    const std::size_t n = units_.size();
    const std::size_t drop =
        keep > 0 && keep < n && IsLowSurrogate(units_.data()[keep]) ? keep - 1 : keep;
    units_.EraseFront(drop);
    from_ = keep - drop;
}

}  // namespace palavox::pieces
