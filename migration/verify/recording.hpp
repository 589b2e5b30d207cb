// A recording of calls to an automation component and their results, read one
// record at a time (docs/migrating.md describes the format). Plain C++: the
// bytes come from whoever owns the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace palavox::verify {

enum class Method { TrataHTML, FindString, RemoverAcentuacao };

const char* MethodName(Method method) noexcept;

struct Argument {
    std::u16string text;
    bool omitted = false;  // an optional argument the caller left out
};

// What one call gave: a text, a count, or an error number.
struct Outcome {
    enum class Kind { Text, Count, Error } kind = Kind::Text;
    std::u16string text;      // Text; for Error, the description
    std::int64_t number = 0;  // Count, or the error number

    bool operator==(const Outcome& other) const noexcept;
};

struct Call {
    Method method = Method::TrataHTML;
    std::vector<Argument> args;  // in call order
    Outcome recorded;
    std::size_t line = 0;  // where the call stands in the recording
    std::string from;      // where its text came from ("input 1 line 17"), if told
};

// What the header tells: the component, where it ran, what it read.
struct Header {
    std::vector<std::pair<std::string, std::string>> fields;  // in file order, UTF-8
    bool shadow = false;  // written by shadow mode: it may end at its last whole line
};

// A shadow recording's last totals line: since its host loaded Palavox.dll,
// the calls watched, those answered differently, and of those the records
// that could not be written.
struct ShadowTotals {
    std::uint64_t watched = 0;
    std::uint64_t different = 0;
    std::uint64_t lost = 0;
};

// The recording is damaged: `line` names where, 0 when the file is empty.
class RecordingError : public std::runtime_error {
public:
    RecordingError(std::size_t line, const std::string& what)
        : std::runtime_error(what), line_(line) {}
    std::size_t line() const noexcept { return line_; }

private:
    std::size_t line_;
};

// Feed it the recording's bytes in pieces of any size; it hands out each call
// as soon as its line is whole, and keeps only that line and the current text.
class RecordingReader {
public:
    // Takes bytes; appends the calls they complete to `calls`.
    void Feed(std::string_view bytes, std::vector<Call>& calls);
    // The end of the file: throws unless the end line came, with the right
    // counts; a shadow recording, still being written or cut by rotation, may
    // end at its last whole line instead (a line being written is left out).
    void Finish();

    const Header& header() const noexcept { return header_; }
    const std::optional<ShadowTotals>& totals() const noexcept { return totals_; }

private:
    void Line(std::string_view line, std::vector<Call>& calls);
    std::u16string Field(std::string_view field, bool argument, bool* omitted);

    Header header_;
    std::string pending_;  // a line not yet ended
    std::size_t lineNumber_ = 0;
    bool started_ = false;
    bool ended_ = false;
    std::optional<std::u16string> text_;  // the last text line's text
    std::string textFrom_;
    bool usedText_ = false;  // the call being read took the last text
    std::uint64_t texts_ = 0;
    std::uint64_t calls_ = 0;
    std::optional<ShadowTotals> totals_;
};

}  // namespace palavox::verify
