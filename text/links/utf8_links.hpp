// The UTF-8 form of link markup, for callers that hold UTF-8 (the C
// interface's _utf8 functions, the command's pieces): the UTF-8 form of what
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

// For a caller that marks up a text piece by piece (the command): where the
// routine would see a link start, the first "http" in any case at or after
// `from` (npos if none), and the bytes that end a link.
std::size_t FindLinkStart(std::string_view texto, std::size_t from = 0) noexcept;
bool EndsLink(char byte) noexcept;

}  // namespace palavox::utf8
