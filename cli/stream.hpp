// The `palavox` command's streaming core: bytes in, UTF-8 out, in pieces of
// any size, with results equal to the automation methods' on the whole input.
// No OS headers: the command feeds it from files, the tests from strings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "palavox/palavox_class.hpp"

namespace palavox::cli {

// Where the UTF-8 output goes.
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

// Bytes to UTF-16 units. A UTF-8 byte-order mark is skipped, a UTF-16 one
// (either order) switches to UTF-16; anything else is UTF-8. Appends only
// whole code points, so a surrogate pair never straddles two calls.
class Decoder {
public:
    void Feed(std::string_view bytes, std::u16string& out);
    // Throws InvalidInput when the input stopped inside a sequence.
    void Finish(std::u16string& out);

private:
    enum class Encoding { Unknown, Utf8, Utf16LE, Utf16BE };

    std::string_view DetectEncoding(std::string_view bytes);
    void FeedUtf8(std::string_view bytes, std::u16string& out);
    void FeedUtf16(std::string_view bytes, std::u16string& out);
    const char* Name() const noexcept;

    Encoding encoding_ = Encoding::Unknown;
    std::string pending_;       // an unfinished sequence, or the start of what may be a BOM
    std::uint64_t offset_ = 0;  // input bytes before pending_
    char16_t high_ = 0;         // UTF-16: a high surrogate waiting for its low one
};

// One command over a stream. Feed any number of times, then Finish once.
class Stream {
public:
    explicit Stream(ByteSink& out) : out_(out) {}
    virtual ~Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // May throw InvalidInput, palavox::Error, std::bad_alloc, or what the sink throws.
    void Feed(std::string_view bytes);
    void Finish();

protected:
    // Handles what it can of units_ (the input decoded and not yet handled);
    // `last` when no more input follows.
    virtual void Process(bool last) = 0;
    void Emit(std::u16string_view units);

    std::u16string units_;
    std::uint64_t total_ = 0;  // units decoded so far

private:
    ByteSink& out_;
    Decoder decoder_;
    std::string encoded_;
};

// palavox remover-acentuacao: folding maps unit to unit, so each piece folds alone.
class FoldStream final : public Stream {
public:
    using Stream::Stream;

private:
    void Process(bool last) override;
    std::u16string folded_;
};

// palavox trata-html: a piece ends after a CR, space or "|" (no link spans
// one), before a link's "http", or three units short of the end when no
// "http" remains; only an unfinished link is held back whole.
class LinkStream final : public Stream {
public:
    LinkStream(ByteSink& out, std::u16string target) : Stream(out), target_(std::move(target)) {}

private:
    void Process(bool last) override;
    void MarkUp(std::u16string_view piece);

    std::u16string target_;
    std::u16string marked_;
    std::size_t scanned_ = 0;  // units at the front of units_ known to hold no link end
    bool inLink_ = false;      // units_ begins with a link whose end has not been read
};

// palavox find-string: counts as the library does on the whole text, scanning
// left to right without overlap; a match must lie wholly within what was read.
class CountStream final : public Stream {
public:
    CountStream(ByteSink& out, std::u16string procura, std::u16string_view tipo)
        : Stream(out), procura_(std::move(procura)), frame_(procura_, tipo) {}

private:
    void Process(bool last) override;
    // Counts what units_ decides and returns where scanning resumes.
    std::size_t Scan(bool last);
    std::size_t CountBetween(std::size_t from, std::size_t to) const;

    std::u16string procura_;
    PalavoxClass::FindStringFrame frame_;
    std::uint64_t count_ = 0;
    std::size_t from_ = 0;  // where scanning resumes in units_
};

}  // namespace palavox::cli
