// The `palavox` command's streaming core: bytes in, UTF-8 out, in pieces of
// any size, with results equal to the automation methods' on the whole input.
// Folding and link markup work on the UTF-8 bytes themselves (their UTF-8
// forms, utf8_routines.hpp); counting decodes to units for the matcher.
// No OS headers: the command feeds it from files, the tests from strings.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "palavox/palavox_class.hpp"

namespace palavox::cli {

// Where the UTF-8 output goes; also what the decoder hands valid UTF-8 to.
class ByteSink {
public:
    virtual void Write(std::string_view bytes) = 0;

protected:
    ~ByteSink() = default;
};

// Input that is neither UTF-8 nor, after its byte-order mark, UTF-16; or
// UTF-16 holding an unpaired surrogate, which UTF-8 output cannot carry.
class InvalidInput : public std::runtime_error {
public:
    InvalidInput(const char* encoding, std::uint64_t offset);
    std::uint64_t offset() const noexcept { return offset_; }

private:
    std::uint64_t offset_;
};

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
    void Shorten(std::size_t size) noexcept { size_ = size; }
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

// Bytes to whole code points. A UTF-8 byte-order mark is skipped, a UTF-16
// one (either order) switches to UTF-16; anything else is UTF-8. Hands on
// either valid UTF-8 (UTF-8 input checked and passed on as it is, UTF-16
// input encoded) or UTF-16 units, and never a piece of a code point.
class Decoder {
public:
    void Feed(std::string_view bytes, ByteSink& utf8) { Feed(bytes, {&utf8, nullptr}); }
    void Feed(std::string_view bytes, Buffer<char16_t>& units) { Feed(bytes, {nullptr, &units}); }
    // Throw InvalidInput when the input stopped inside a sequence.
    void Finish(ByteSink& utf8) { Finish({&utf8, nullptr}); }
    void Finish(Buffer<char16_t>& units) { Finish({nullptr, &units}); }

private:
    enum class Encoding { Unknown, Utf8, Utf16LE, Utf16BE };
    struct Out {
        ByteSink* utf8;
        Buffer<char16_t>* units;
    };

    void Feed(std::string_view bytes, Out out);
    void Finish(Out out);
    void DetectEncoding();
    void FeedUtf8(std::string_view bytes, Out out);
    void Utf8Piece(std::string_view bytes, Out out);
    void FeedUtf16(std::string_view bytes, Out out);
    const char* Name() const noexcept;

    Encoding encoding_ = Encoding::Unknown;
    std::string pending_;       // an unfinished sequence, or the start of what may be a BOM
    std::uint64_t offset_ = 0;  // input bytes before pending_
    char16_t high_ = 0;         // UTF-16: a high surrogate waiting for its low one
    Buffer<char16_t> scratch_;  // UTF-16 input on its way to UTF-8
    Buffer<char> encoded_;
};

// One command over a stream. Feed any number of times, then Finish once.
// Each may throw InvalidInput, palavox::Error, std::bad_alloc, or what the
// sink throws.
class Stream {
public:
    virtual ~Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    virtual void Feed(std::string_view bytes) = 0;
    virtual void Finish() = 0;

protected:
    Stream() = default;
};

// Folding and link markup: the valid UTF-8 the decoder hands on is turned
// into output, gathered and written once a piece.
class ByteStream : public Stream {
public:
    void Feed(std::string_view bytes) final;
    void Finish() final;

protected:
    explicit ByteStream(ByteSink& out) : out_(out) {}
    // Turns valid UTF-8 into output, appended to output_; End once the input has ended.
    virtual void Take(std::string_view valid) = 0;
    virtual void End() {}

    Buffer<char> output_;

private:
    // Where the decoder hands the valid UTF-8.
    struct Valid final : ByteSink {
        explicit Valid(ByteStream& s) : stream(s) {}
        void Write(std::string_view valid) override { stream.Take(valid); }
        ByteStream& stream;
    };
    void Flush();

    ByteSink& out_;
    Decoder decoder_;
    Valid valid_{*this};
};

// palavox remover-acentuacao: folding maps code point to code point, so each
// piece folds alone.
class FoldStream final : public ByteStream {
public:
    explicit FoldStream(ByteSink& out) : ByteStream(out) {}

private:
    void Take(std::string_view valid) override;
};

// palavox trata-html: a piece ends after a CR, space or "|" (no link spans
// one), before a link's "http", or three bytes short of the end when no
// "http" remains; only an unfinished link is held back whole. `target` is UTF-8.
class LinkStream final : public ByteStream {
public:
    LinkStream(ByteSink& out, std::string target) : ByteStream(out), target_(std::move(target)) {}

private:
    void Take(std::string_view valid) override;
    void End() override;
    void Split(std::string_view piece);
    void MarkUp(std::string_view piece);

    std::string target_;
    std::string held_;     // what may still begin or continue a link
    bool inLink_ = false;  // held_ begins with a link whose end has not been read
};

// palavox find-string: counts as the library does on the whole text, scanning
// left to right without overlap; a match must lie wholly within what was read.
class CountStream final : public Stream {
public:
    CountStream(ByteSink& out, std::u16string procura, std::u16string_view tipo)
        : out_(out), procura_(std::move(procura)), frame_(procura_, tipo) {}

    void Feed(std::string_view bytes) override;
    void Finish() override;

private:
    void Process(bool last);
    // Counts what units_ decides and returns where scanning resumes.
    std::size_t Scan(bool last);
    std::size_t CountBetween(std::size_t from, std::size_t to) const;

    ByteSink& out_;
    Decoder decoder_;
    Buffer<char16_t> units_;   // decoded and not yet decided
    std::uint64_t total_ = 0;  // units decoded so far
    std::u16string procura_;
    PalavoxClass::FindStringFrame frame_;
    std::uint64_t count_ = 0;
    std::size_t from_ = 0;  // where scanning resumes in units_
};

}  // namespace palavox::cli
