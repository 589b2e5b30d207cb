// Deterministic inputs for the benchmarks: the same text on every machine and
// every run, so that figures from different machines describe the same work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "palavox/text.hpp"

namespace palavox::bench {

// Picks on mt19937_64 directly: its output is fixed by the standard, while the
// standard distributions may differ between libraries.
class Picker {
public:
    explicit Picker(std::uint64_t stream) : engine_(stream) {}

    // Uniform in [0, n), n > 0, by rejection.
    std::uint64_t Below(std::uint64_t n);

    // True about `percent` times in a hundred.
    bool Percent(unsigned percent) { return Below(100) < percent; }

private:
    std::mt19937_64 engine_;
};

// Portuguese-like prose of exactly `units` code units: words, commas, full
// stops, a few brackets and colons, CR LF between paragraphs. With `accents`
// the words keep their accents and c-cedillas (a few units in a hundred, the
// rest ASCII); without, the same words are written plain.
Text Prose(std::size_t units, bool accents, std::uint64_t stream);

// Exactly `units` code units holding exactly `links` links, one in every
// units / links, each about half of its share, ended by a space, CR or "|",
// with prose between them.
Text LinkText(std::size_t units, std::size_t links, std::uint64_t stream);

// `count` names of two to four words (first names, surnames, "da", "dos"),
// 10 to 40 units, about half of them with accents or a c-cedilla.
std::vector<Text> Names(std::size_t count, std::uint64_t stream);

// `count` short comments (3 to 8 words of prose, up to 60 units), one in
// four holding a link.
std::vector<Text> Comments(std::size_t count, std::uint64_t stream);

}  // namespace palavox::bench
