// What shadow mode writes (docs/migrating.md): every call a host makes is
// answered by the installed component and worked out by Palavox too, and each
// call whose answers differ becomes a record of `palavox verify`'s format,
// the installed component's answer recorded. One recording per host process,
// in parts of a bounded size: each part opens with the header, a part cut by
// rotation ends with a totals line, and a totals line also follows every so
// many calls. Records that cannot be written are counted and said in the next
// record that can be. Plain C++: the files are the platform's (Parts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace palavox::shadow {

enum class Method { TrataHTML, FindString, RemoverAcentuacao };

struct Argument {
    std::u16string_view text;
    bool omitted = false;  // an optional argument the caller left out
};

// One answer: a text, a count, or an error number (with its description).
struct Outcome {
    enum class Kind { Text, Count, Error } kind = Kind::Text;
    std::u16string text;      // Text; for Error, the description
    std::int64_t number = 0;  // Count, or the error number
};

// Whether two answers are the same to a client: kind, and text, count or
// error number (descriptions vary with the language).
bool SameAnswer(const Outcome& a, const Outcome& b) noexcept;

// The call and the installed component's answer, as one whole line.
std::string CallLine(Method method, const Argument* args, std::size_t count, const Outcome& answer);

struct Header {
    std::u16string progId, dll, version, host, date;
    int bits = 0;
};

// The lines every part opens with: the format, "shadow" and the part's
// number, then the component, its DLL and version, the bitness, the host
// process and the date.
std::string HeaderLines(const Header& header, unsigned part);
// Calls watched, calls that answered differently, and of those the records
// that could not be written: since the host loaded Palavox.dll.
std::string TotalsLine(std::uint64_t watched, std::uint64_t different, std::uint64_t lost);
// Records before this line that could not be written.
std::string LostLine(std::uint64_t lost);

// The files of one host process's recording.
class Parts {
public:
    virtual ~Parts() = default;
    // Opens part `n` (from 1) for appending: the bytes it holds, or -1 when it
    // cannot be opened (a folder missing, not writable).
    virtual std::int64_t Open(unsigned n) = 0;
    // Appends `bytes` whole: false when they could not be (a disk full).
    virtual bool Append(std::string_view bytes) = 0;
    virtual void Close() = 0;
};

struct Limits {
    std::uint64_t partSize = 16u * 1024 * 1024;  // a part is closed past this many bytes
    unsigned parts = 8;                          // a process writes at most so many
    std::uint64_t totalsEvery = 1000;            // calls between totals lines
};

// What is written where. Not thread-safe: its caller holds one lock.
class Recorder {
public:
    Recorder(Parts& parts, Header header, Limits limits);

    // A call watched; a totals line every `totalsEvery`.
    void Watched();
    // A call that answered differently, and its record (CallLine).
    void Differed(const std::string& record);
    // The last totals line, when the host unloads the DLL.
    void Finish();

    std::uint64_t watched() const noexcept { return watched_; }
    std::uint64_t different() const noexcept { return different_; }
    std::uint64_t lost() const noexcept { return lost_; }

private:
    bool Write(const std::string& line, bool difference);
    bool OpenPart(unsigned n);

    Parts& parts_;
    Header header_;
    Limits limits_;
    std::uint64_t watched_ = 0, different_ = 0, lost_ = 0;
    std::uint64_t unsaid_ = 0;  // lost records not yet said in a lost line
    unsigned part_ = 0;         // 0: none opened yet
    bool open_ = false;
    bool full_ = false;           // every part used: nothing more but the last totals
    std::uint64_t size_ = 0;      // bytes in the open part
    std::uint64_t headSize_ = 0;  // of them, its header's
};

}  // namespace palavox::shadow
