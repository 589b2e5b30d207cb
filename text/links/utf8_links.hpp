// The UTF-8 form of link markup, for callers that hold UTF-8 (the C
// interface's _utf8 functions, the command's pieces), and the UTF-16 one into
// storage a caller holds (the edges' TrataHTMLInto): the UTF-8 form of what
// the UTF-16 routine gives on the same text, computed on the bytes. That is
// possible because links start and end at ASCII, and UTF-8 puts no ASCII byte
// inside a longer sequence. The input must be valid UTF-8 (utf8::Validate);
// each call runs the active kernel, like the routine.
// Internal: for capi/, cli/ and their tests; neither installed nor exported.
#pragma once

#include <cstddef>
#include <string_view>

namespace palavox::utf8 {

// TrataHTML's routine: the result's size in bytes (std::bad_alloc when it
// cannot be one), then the result, exactly that long; `alvo` is UTF-8 too.
std::size_t ConverteLinksSize(std::string_view texto, std::string_view alvo);
char* ConverteLinks(std::string_view texto, std::string_view alvo, char* out) noexcept;

// Room for a result, asked for once and exactly as long as the result.
class LinkRoom {
public:
    virtual char* Allocate(std::size_t bytes) = 0;

protected:
    ~LinkRoom() = default;
};

// The same in one call, into the room: a short text's links found once,
// both to size the result and to write it.
void ConverteLinks(std::string_view texto, std::string_view alvo, LinkRoom& room);

// The same on a text not yet checked, checked as its links are looked for:
// false, with nothing asked of the room, when it is not valid UTF-8.
bool ConverteLinksChecked(std::string_view texto, std::string_view alvo, LinkRoom& room);

}  // namespace palavox::utf8

namespace palavox::ModPalavox {

// ConverteLinks into storage the caller holds, room for `capacity` units:
// always the result's length, the result written only when it fits. A result
// as long as the text is the text itself: it has no link.
std::size_t ConverteLinksInto(std::u16string_view texto, std::u16string_view alvo,
                              char16_t* resultado, std::size_t capacity);

}  // namespace palavox::ModPalavox

namespace palavox::utf8 {

// For a caller that marks up a text piece by piece (the command): where the
// routine would see a link start, the first "http" in any case at or after
// `from` (npos if none), and the bytes that end a link.
std::size_t FindLinkStart(std::string_view texto, std::size_t from = 0) noexcept;
bool EndsLink(char byte) noexcept;

}  // namespace palavox::utf8
