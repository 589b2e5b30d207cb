// Text that arrives in pieces: folding, link markup and counting over bytes
// handed in any number of pieces cut anywhere, with the results of one call on
// the whole text. In the manner of a streaming codec: Step reads what it can
// of an input buffer and writes what fits of an output buffer, advancing the
// `pos` of each; End, once the input has ended, writes the rest.
//
// - Output is UTF-8 and only ever whole code points, so each piece of it can
//   be handed on (converted, written) as it is.
// - State crosses a piece boundary only where it must: a code point cut short,
//   a link whose end has not been read (held whole: a link is marked up only
//   once its end is known), up to three bytes that may begin "http", the units
//   a match may still need. Memory is bounded by the longest unfinished link
//   (or the search text) and a chunk of 64 KiB of input, never by the text.
// - Errors are the whole call's: invalid input is reported at the same byte
//   offset wherever the pieces fall; after any error the stream is spent and
//   every later call throws the same error again.
// Internal: for the C interface, the command and their tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/text.hpp"

namespace palavox::pieces {

struct InBuffer {
    const char* src = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;  // bytes read so far
};

struct OutBuffer {
    char* dst = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;  // bytes written so far
};

// How the input's bytes are read.
enum class Input {
    Utf8,  // as the _utf8 calls read a text: a leading U+FEFF is text
    // A UTF-8 byte-order mark is skipped and a UTF-16 one (either order)
    // switches to UTF-16; without a mark, UTF-8. The command reads files so.
    ByteOrderMark,
};

// Input that is not valid UTF-8 (or, after its mark, UTF-16: an odd byte, an
// unpaired surrogate, which UTF-8 output cannot carry). Error 5 to any edge.
class InvalidInput : public Error {
public:
    InvalidInput(const char* encoding, std::uint64_t offset)
        : Error(kInvalidArgument), encoding_(encoding), offset_(offset) {}
    const char* encoding() const noexcept { return encoding_; }  // "UTF-8" or "UTF-16"
    std::uint64_t offset() const noexcept { return offset_; }    // of the first byte at fault

private:
    const char* encoding_;
    std::uint64_t offset_;
};

namespace detail {

// Storage reused from one piece to the next, grown without filling: every
// element is written before it is read.
template <class T>
class Buffer {
public:
    T* data() const noexcept { return data_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::basic_string_view<T> view() const noexcept { return {data_.get(), size_}; }

    // Room for `n` more at the end, which count as written once Commit says so.
    T* Reserve(std::size_t n) {
        if (capacity_ - size_ < n) {
            const std::size_t capacity = std::max(size_ + n, 2 * capacity_);
            // branch-untaken: new T[] refuses sizes past the address space; no buffer nears them
            std::unique_ptr<T[]> grown(new T[capacity]);
            std::copy(data_.get(), data_.get() + size_, grown.get());
            data_ = std::move(grown);
            capacity_ = capacity;
        }
        return data_.get() + size_;
    }
    void Commit(std::size_t n) noexcept { size_ += n; }
    void Append(std::basic_string_view<T> more) {
        std::copy(more.begin(), more.end(), Reserve(more.size()));
        size_ += more.size();
    }
    void EraseFront(std::size_t n) noexcept {
        std::copy(data_.get() + n, data_.get() + size_, data_.get());
        size_ -= n;
    }
    void Clear() noexcept { size_ = 0; }

private:
    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Where the decoder hands valid UTF-8, whole code points only.
class Utf8Sink {
public:
    virtual void Take(std::string_view valid) = 0;

protected:
    ~Utf8Sink() = default;
};

// Bytes to whole code points: either valid UTF-8 (UTF-8 input checked and
// passed on as it is, UTF-16 input encoded) or UTF-16 units.
class Decoder {
public:
    explicit Decoder(Input input) noexcept;
    void Feed(std::string_view bytes, Utf8Sink& utf8) { Feed(bytes, {&utf8, nullptr}); }
    void Feed(std::string_view bytes, Buffer<char16_t>& units) { Feed(bytes, {nullptr, &units}); }
    // Throw InvalidInput when the input stopped inside a sequence.
    void Finish(Utf8Sink& utf8) { Finish({&utf8, nullptr}); }
    void Finish(Buffer<char16_t>& units) { Finish({nullptr, &units}); }
    // Input bytes read up to the last whole code point.
    std::uint64_t offset() const noexcept { return offset_; }

private:
    enum class Encoding { Unknown, Utf8, Utf16LE, Utf16BE };
    struct Out {
        Utf8Sink* utf8;
        Buffer<char16_t>* units;
    };

    void Feed(std::string_view bytes, Out out);
    void Finish(Out out);
    void DetectEncoding();
    void FeedUtf8(std::string_view bytes, Out out);
    void Utf8Piece(std::string_view bytes, Out out);
    void FeedUtf16(std::string_view bytes, Out out);
    const char* Name() const noexcept;

    Encoding encoding_;
    std::string pending_;       // an unfinished sequence, or the start of what may be a mark
    std::uint64_t offset_ = 0;  // input bytes before pending_
    char16_t high_ = 0;         // UTF-16: a high surrogate waiting for its low one
    Buffer<char16_t> scratch_;  // UTF-16 input on its way to UTF-8
    Buffer<char> encoded_;
};

}  // namespace detail

// One operation over one text. Step any number of times, then End until it
// returns 0. Each may throw InvalidInput, Error, std::bad_alloc; Step after
// End throws Error(5).
class Stream {
public:
    virtual ~Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Reads from `in` and writes to `out` until the input is all read or the
    // output is full. What is read but does not fit yet is kept and written
    // first by the next call: `in` may then be left unread, and an output
    // with room for four bytes or more always takes something.
    void Step(InBuffer& in, OutBuffer& out);
    // The input has ended: writes what is left, as much as fits, and returns
    // how many bytes are still to be written (call again with more room).
    std::size_t End(OutBuffer& out);

    // Input bytes decoded so far (up to the last whole code point); after
    // InvalidInput, where the fault starts.
    std::uint64_t offset() const noexcept;

protected:
    explicit Stream(Input input) noexcept : decoder_(input) {}

    // A chunk of input, decoded as the operation needs it.
    virtual void Read(std::string_view bytes) = 0;
    // After a step's reads.
    virtual void Settle() {}
    // The input has ended (the decoder is the operation's to finish).
    virtual void Close() = 0;

    // Output of at most `most` bytes: written at the returned place (straight
    // into the caller's buffer when it fits there), then Commit(its end).
    char* Reserve(std::size_t most);
    void Commit(const char* end) noexcept;

    detail::Decoder decoder_;

private:
    enum class State { Open, Ended };  // Ended from the first End, output left or not

    template <class Body>
    void Guarded(OutBuffer& out, Body body);
    // Writes held output to `out`, whole code points only; true once none is left.
    bool Flush(OutBuffer& out) noexcept;

    detail::Buffer<char> pending_;  // output that did not fit
    std::size_t flushed_ = 0;       // of pending_, already written
    OutBuffer* out_ = nullptr;      // during a call
    char* direct_ = nullptr;        // where Reserve put the output, when in out_
    std::exception_ptr failure_;
    static constexpr std::uint64_t kNoFault = ~std::uint64_t{0};
    std::uint64_t faultAt_ = kNoFault;  // InvalidInput's offset
    State state_ = State::Open;
};

// RemoverAcentuacao: folding maps code point to code point, so each piece folds alone.
class FoldStream final : public Stream, private detail::Utf8Sink {
public:
    explicit FoldStream(Input input = Input::Utf8) noexcept : Stream(input) {}

private:
    void Read(std::string_view bytes) override { decoder_.Feed(bytes, *this); }
    void Close() override { decoder_.Finish(*this); }
    void Take(std::string_view valid) override;
};

// TrataHTML with a target (UTF-8; Error(5) when it is not valid). Output is
// decided up to the last CR, space or "|" (no link spans one) and up to a
// link's "http", or three bytes short of the end when no "http" remains;
// only an unfinished link is held back whole.
class LinkStream final : public Stream, private detail::Utf8Sink {
public:
    explicit LinkStream(std::string_view target, Input input = Input::Utf8);

private:
    void Read(std::string_view bytes) override { decoder_.Feed(bytes, *this); }
    void Close() override;
    void Take(std::string_view valid) override;
    void Split(std::string_view piece);
    void MarkUp(std::string_view piece);
    void Copy(std::string_view piece);

    std::string target_;
    std::string held_;     // what may still begin or continue a link
    bool inLink_ = false;  // held_ begins with a link whose end has not been read
};

// FindString's count: the non-overlapping matches of `procura`, scanning left
// to right, as ContaOcorrencias gives them on the whole text. It writes no
// output; after End, what FindString's frame turns into its result.
class CountStream final : public Stream {
public:
    CountStream(std::u16string procura, CompareMode mode, Input input = Input::Utf8);

    std::uint64_t count() const noexcept { return count_; }
    std::uint64_t units() const noexcept { return total_; }  // of the whole text

private:
    void Read(std::string_view bytes) override;
    void Settle() override { Process(false); }
    void Close() override;
    void Process(bool last);
    // Counts what units_ decides and returns where scanning resumes.
    std::size_t Scan(bool last);
    std::size_t CountBetween(std::size_t from, std::size_t to) const;

    std::u16string procura_;
    CompareMode mode_;
    bool surrogates_;                 // procura_ holds a surrogate
    std::size_t scanAt_;              // units_ scanned within a step once this long
    detail::Buffer<char16_t> units_;  // decoded and not yet decided
    std::uint64_t total_ = 0;         // units decoded so far
    std::uint64_t count_ = 0;
    std::size_t from_ = 0;  // where scanning resumes in units_
};

}  // namespace palavox::pieces
