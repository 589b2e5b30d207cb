// Writers of a result whose size is known in advance, each allocated exactly
// once: TextWriter builds a Text, SinkWriter fills a caller's storage. Both
// take pieces (Put) and room to write into (Claim). Internal to text/.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

#include "palavox/text.hpp"

namespace palavox::detail {

// Short pieces go through a small buffer on the stack instead of each going
// through the string's append, and nothing is zero-filled first.
class TextWriter {
public:
    static constexpr std::size_t kBufferUnits = 2048;

    explicit TextWriter(std::size_t size) { out_.reserve(size); }
    TextWriter(const TextWriter&) = delete;
    TextWriter& operator=(const TextWriter&) = delete;

    Text Finish() {
        Flush();
        return std::move(out_);
    }

    void Put(std::u16string_view piece) {
        if (piece.size() > kBufferUnits - used_) {
            Flush();
            // Long runs go straight into the result; copying them twice gains nothing.
            if (piece.size() >= kBufferUnits / 2) {
                out_.append(piece);
                return;
            }
        }
        std::memcpy(buffer_ + used_, piece.data(), piece.size() * sizeof(char16_t));
        used_ += piece.size();
    }

    // Room for `units` (at most kBufferUnits) units, to be written by the caller.
    char16_t* Claim(std::size_t units) {
        if (units > kBufferUnits - used_) Flush();
        char16_t* room = buffer_ + used_;
        used_ += units;
        return room;
    }

private:
    void Flush() {
        out_.append(buffer_, used_);
        used_ = 0;
    }

    Text out_;
    std::size_t used_ = 0;
    char16_t buffer_[kBufferUnits];
};

// Writes straight into storage of the exact size, so nothing is buffered.
class SinkWriter {
public:
    SinkWriter(TextSink& sink, std::size_t size) : at_(sink.Allocate(size)) {}

    void Put(std::u16string_view piece) noexcept {
        if (!piece.empty()) std::memcpy(at_, piece.data(), piece.size() * sizeof(char16_t));
        at_ += piece.size();
    }

    char16_t* Claim(std::size_t units) noexcept {
        char16_t* room = at_;
        at_ += units;
        return room;
    }

private:
    char16_t* at_;
};

}  // namespace palavox::detail
