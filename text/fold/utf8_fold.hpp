// The UTF-8 form of accent folding, for callers that hold UTF-8 (the C
// interface's _utf8 functions, the command's pieces): the UTF-8 form of what
// the UTF-16 routine gives on the same text, computed on the bytes. That is
// possible because folding changes only ASCII and two-byte Latin-1 letters
// (to ASCII), and UTF-8 puts no ASCII byte inside a longer sequence. The
// input must be valid UTF-8 (utf8::Validate); each call runs the active
// kernel, like the routine.
// Internal: for capi/, cli/ and their tests; neither installed nor exported.
#pragma once

#include <string_view>

namespace palavox::utf8 {

// RemoverAcentuacao's routine: writes the folded text to `out`, which has
// room for texto.size() bytes and does not overlap it; returns the end.
char* TrocaAcentos(std::string_view texto, char* out) noexcept;

// The same on bytes not yet checked, in one pass: nullptr, with `out` holding
// anything, when `texto` is not valid UTF-8 (utf8::Validate).
char* TrocaAcentosChecked(std::string_view texto, char* out) noexcept;

}  // namespace palavox::utf8
