// The UTF-16 text model every routine and PalavoxClass work on: the text,
// how two runs of it compare, and where a result is written. Public:
// installed for C++ consumers, who may rely on everything declared here.
// (The primitive operations that fix the rules of every result are text/'s
// own, in text/primitives/primitives.hpp.)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace palavox {

// A null automation string arrives here as the empty text.
using Text = std::u16string;

enum class CompareMode {
    BinaryCompare,  // exact code-unit equality
    TextCompare,    // equality after Unicode simple case folding
};

// Storage for a result, provided by whoever receives it (an automation string,
// a malloc'd buffer): asked exactly once per successful call, for the exact
// number of units, before any of them is written. May throw std::bad_alloc.
class TextSink {
public:
    virtual char16_t* Allocate(std::size_t units) = 0;

protected:
    ~TextSink() = default;
};

}  // namespace palavox
