// The vector paths against the model where they are most likely to slip: at
// every length from 0 to 70 and every placement of the text against 64-byte
// boundaries, with the interesting unit at every position, and with memory
// just outside the text that would change the answer if it were read (or,
// for the unit loops' outputs, that must stay unwritten). Every
// test runs once per kernel, so the kernels are compared in one process.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "simd/kernels.hpp"
#include "count/matcher.hpp"
#include "palavox_units.h"
#include "palavox/mod_palavox.hpp"
#include "palavox/text.hpp"
#include "primitives/primitives.hpp"
#include "reference/conta_as_model.hpp"
#include "reference/reference_model.hpp"
#include "test_util.hpp"

namespace palavox {
namespace {

namespace ref = palavox::reference;
using test::Escaped;
using test::Kernel;

class BoundaryTest : public test::PerKernel<Kernel> {};

constexpr std::size_t kMaxLength = 70;
constexpr std::size_t kOffsets = 32;  // units: every position within 64 bytes

// Places texts at a chosen distance from a 64-byte boundary, between `before`
// and `after` units that the routines must not look at.
class Placer {
public:
    std::u16string_view Place(std::u16string_view text, std::size_t offset,
                              std::u16string_view before = {}, std::u16string_view after = {}) {
        buffer_.assign(text.size() + 2 * kSlack + 64, u'\0');
        const auto address = reinterpret_cast<std::uintptr_t>(buffer_.data() + kSlack);
        char16_t* const start = buffer_.data() + kSlack + (64 - address % 64) / 2 % 32 + offset;
        for (std::size_t i = 0; i < before.size() && i < kSlack; ++i) {
            start[-1 - static_cast<std::ptrdiff_t>(i)] = before[before.size() - 1 - i];
        }
        text.copy(start, text.size());
        after.substr(0, kSlack).copy(start + text.size(), std::min(after.size(), kSlack));
        return {start, text.size()};
    }

private:
    static constexpr std::size_t kSlack = 64;
    std::u16string buffer_;
};

// Same numbers on every library: mt19937's output is fixed, distributions are not.
class Units {
public:
    explicit Units(std::uint32_t stream) : engine_(stream) {}
    char16_t From(std::u16string_view palette) { return palette[engine_() % palette.size()]; }
    Text Make(std::size_t length, std::u16string_view palette) {
        Text text(length, u'\0');
        for (char16_t& unit : text) unit = From(palette);
        return text;
    }

private:
    std::mt19937 engine_;
};

// Table rows, their neighbours, units whose low byte is a row, and units that
// saturate to 0x00 or 0xFF when narrowed.
constexpr std::u16string_view kAccentPalette =
    u"aeiouAEIOU \u00E1\u00E0\u00E4\u00E2\u00E3\u00E9\u00EA\u00ED\u00F3\u00F5\u00FA\u00FC"
    u"\u00C1\u00C3\u00C9\u00CD\u00D3\u00D4\u00DA\u00DC\u00E7\u00C7\u00B4`~^\u00A8;:/?<>()[]{}"
    u"\u00AA\u00BA&$#+=\u00E5\u00C5\u00D7\u00F7\u00FF\u00FD\u00A9\u00B5%'*,.-\\_|!\"@\r\n"
    u"\u00E6\u00F0\u0100\u01E1\u0126\u0128\u0A3E\u20AC\u7F26\u8000\uFFE1\U0001F600";

// Plus NUL, which a literal cannot end with.
const Text kAccentUnits = Text(kAccentPalette) + u'\0';

TEST_P(BoundaryTest, TrocaAcentosAtEveryLengthAndPlacement) {
    Placer placer;
    Units units(11);
    for (std::size_t length = 0; length <= kMaxLength; ++length) {
        for (std::size_t offset = 0; offset < kOffsets; ++offset) {
            const Text text = units.Make(length, kAccentUnits);
            const std::u16string_view placed =
                placer.Place(text, offset, u"\u00E1\u00E1", u"\u00E1\u00E1");
            ASSERT_EQ(ModPalavox::TrocaAcentos(placed), ref::TrocaAcentos(text))
                << Escaped(text) << " at offset " << offset;
        }
    }
}

// Long texts, leaving every remainder after 32- and 16-unit blocks.
TEST_P(BoundaryTest, TrocaAcentosOnLongTexts) {
    Units units(12);
    for (const std::size_t length : {31u, 32u, 33u, 47u, 48u, 2047u, 2048u, 2049u, 2080u, 4113u}) {
        const Text text = units.Make(length, kAccentUnits);
        ASSERT_EQ(ModPalavox::TrocaAcentos(text), ref::TrocaAcentos(text)) << "length " << length;
    }
}

struct SearchCase {
    const char* name;
    Text search;
    CompareMode mode;
    Text filler;  // what the rest of the text is made of
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class BoundarySearch : public test::PerKernel<std::tuple<Kernel, SearchCase>> {};

// The search text planted at every position of every length, and also cut
// short by the end of the text with its remainder just past the end.
TEST_P(BoundarySearch, FindsThePlantedMatchAndNothingPastTheEnd) {
    const SearchCase& c = std::get<1>(GetParam());
    const std::u16string_view tipo = c.mode == CompareMode::BinaryCompare ? u"B" : u"";
    Placer placer;
    for (std::size_t length = 0; length <= kMaxLength; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            Text text = c.filler.substr(0, length);
            while (text.size() < length) text += c.filler.substr(0, length - text.size());
            const std::size_t fits = std::min(c.search.size(), length - at);
            text.replace(at, fits, c.search.substr(0, fits));
            const std::u16string_view after = std::u16string_view(c.search).substr(fits);
            const std::size_t expected = ref::Find(text, c.search, 1, c.mode);
            const std::int32_t count = ref::ContaOcorrencias(text, c.search, tipo);
            for (std::size_t offset = 0; offset < kOffsets; ++offset) {
                const std::u16string_view placed = placer.Place(text, offset, c.search, after);
                ASSERT_EQ(Find(placed, c.search, 1, c.mode), expected)
                    << Escaped(text) << " at offset " << offset;
                ASSERT_EQ(ref::FastContaOcorrencias(placed, c.search, tipo), count)
                    << Escaped(text) << " at offset " << offset;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Searches, BoundarySearch,
    ::testing::Combine(
        test::AllKernels(),
        ::testing::Values(
            SearchCase{"OneUnitBinary", u"q", CompareMode::BinaryCompare, u"xyz"},
            SearchCase{"OneUnitText", u"Q", CompareMode::TextCompare, u"xyz"},
            SearchCase{"WordBinary", u"casa", CompareMode::BinaryCompare, u"cas acasa"},
            SearchCase{"WordText", u"CaSa", CompareMode::TextCompare, u"cAs ACASa"},
            // Units with more than one unit folding to them: K, KELVIN SIGN, long s, theta.
            SearchCase{"KelvinText", u"k\u212As", CompareMode::TextCompare, u"K\u017FkS"},
            SearchCase{"ThetaText", u"\u03B8\u03D1", CompareMode::TextCompare, u"\u03F4\u0398x"},
            // Surrogate pairs at either end, so the probes move inwards.
            SearchCase{"SurrogateEndsText", u"\U00010400ab\U00010428", CompareMode::TextCompare,
                       u"a\U00010428b\U00010400"},
            SearchCase{"OnlySurrogatesText", u"\U00010400", CompareMode::TextCompare,
                       u"\U00010428\U00010401"},
            SearchCase{"LongerThanVectorsBinary", u"abcdefghijklmnopqrstu",
                       CompareMode::BinaryCompare, u"abcdefghijklmnopqrstx"},
            SearchCase{"PeriodicBinary", u"aaaaaaaaab", CompareMode::BinaryCompare,
                       u"aaaaaaaaaaaa"},
            SearchCase{"PeriodicText", u"AAAAbAAAA", CompareMode::TextCompare, u"aaaaaaaaaaaa"},
            // Short search texts whose matches overlap: each start that passes the
            // probes is a match, but the count must skip those inside the last one.
            SearchCase{"OverlappingBinary", u"aba", CompareMode::BinaryCompare, u"abababab"},
            SearchCase{"OverlappingText", u"aA", CompareMode::TextCompare, u"AaaAAa"},
            // Probes on the rare units inside the search text, not on its ends.
            SearchCase{"RareInsideText", u"a\u00C7\u00C3o", CompareMode::TextCompare,
                       u"\u00E7\u00E3A\u00C7\u00E3aO"},
            SearchCase{"RareInsideLongText", u"informa\u00E7\u00E3o", CompareMode::TextCompare,
                       u"INFORMA\u00C7\u00C3ao"},
            SearchCase{"RareInsideBinary", u"prazo", CompareMode::BinaryCompare, u"praprazprazoo"},
            // A class of three (k, K, KELVIN SIGN) as the rarest probe.
            SearchCase{"ClassInsideText", u"ekke", CompareMode::TextCompare, u"E\u212AKe\u212A"},
            // Short texts counted in a few vector steps when every unit is below
            // 0x100: search texts of up to 16 units, the borders of lowering
            // (x and division signs, @ and `, [ and {), and units from past 0xFF
            // that fold into Latin-1 (micro, sharp s, y with diaeresis), which must
            // go the general way.
            SearchCase{"Latin1Sixteen", u"CONCEI\u00C7\u00C3O SILVA", CompareMode::TextCompare,
                       u"concei\u00E7\u00E3o silv conceicao"},
            SearchCase{"Latin1SixteenBinary", u"Concei\u00E7\u00E3o Silva",
                       CompareMode::BinaryCompare, u"Concei\u00E7\u00C3o Silva CONCEI"},
            SearchCase{"LoweringBorders", u"\u00DE\u00D7@[", CompareMode::TextCompare,
                       u"\u00FE\u00F7`{\u00DE\u00D7@\u00FE\u00D7@{"},
            SearchCase{"MicroSign", u"\u00B5m", CompareMode::TextCompare,
                       u"\u039Cm\u03BCM\u00B5\u00B5n"},
            SearchCase{"FoldsIntoLatin1", u"\u00DF\u00FFk", CompareMode::TextCompare,
                       u"\u1E9E\u0178\u212A\u00DF\u00FF\u00DFk\u017F"})),
    test::KernelName{});

// Surrogate halves on their own, so that pairs form and break at random.
constexpr char16_t kSearchUnits[] = {u'a',   u'A', u'b', u'B', u'k',   u'K',   0x212A,
                                     0x017F, u's', u'S', u' ', 0xD801, 0xDC00, 0xDC28};
constexpr std::u16string_view kSearchPalette(kSearchUnits, std::size(kSearchUnits));

// Latin-1 alone, around the borders of its lowering, and a unit past it
// that folds into it, now and then.
constexpr std::u16string_view kLatin1Palette =
    u"aAsS@`[{ \u00B5\u00C0\u00E0\u00D7\u00F7\u00DE\u00FE\u00DF\u00FF\u00C7\u00E7aAaAsS";

// Mixed content with many near misses: every length, placement and mode;
// search texts of up to four units from the general palette, of up to 16
// from the Latin-1 one.
TEST_P(BoundaryTest, CountsAgreeOnMixedTexts) {
    struct Mix {
        std::u16string_view palette;
        std::size_t longest;
        bool pastLatin1;  // one unit of a text in 16 from past 0xFF
    };
    for (const Mix& mix : {Mix{kSearchPalette, 4, false}, Mix{kLatin1Palette, 16, true}}) {
        Placer placer;
        Units units(13);
        for (std::size_t length = 0; length <= kMaxLength; ++length) {
            for (std::size_t offset = 0; offset < kOffsets; ++offset) {
                Text text = units.Make(length, mix.palette);
                if (mix.pastLatin1 && length > 0 && offset % 16 == 0) {
                    text[offset % length] = units.From(u"\u212A\u017F\u1E9E\u0178\u212B\u03BC");
                }
                const Text search = units.Make(1 + length % mix.longest, mix.palette);
                const std::u16string_view placed = placer.Place(text, offset, search, search);
                for (const std::u16string_view tipo : {u"B", u""}) {
                    ASSERT_EQ(ref::FastContaOcorrencias(placed, search, tipo),
                              ref::ContaOcorrencias(text, search, tipo))
                        << Escaped(text) << " / " << Escaped(search) << " tipo " << Escaped(tipo);
                }
            }
        }
    }
}

struct LinkCase {
    const char* name;
    Text link;  // planted at every position
    Text end;   // what follows it, when it fits
};

void PrintTo(const LinkCase& c, std::ostream* os) { *os << c.name; }

class BoundaryLinks : public test::PerKernel<std::tuple<Kernel, LinkCase>> {};

// Links planted at every position, in texts whose memory just past the end
// would continue or end the link.
TEST_P(BoundaryLinks, MarksUpAtEveryPositionAndPlacement) {
    const LinkCase& c = std::get<1>(GetParam());
    Placer placer;
    for (std::size_t length = 0; length <= kMaxLength; ++length) {
        for (std::size_t at = 0; at <= length; ++at) {
            Text text(length, u'x');
            const Text planted = c.link + c.end;
            const std::size_t fits = std::min(planted.size(), length - at);
            text.replace(at, fits, planted.substr(0, fits));
            const Text expected = ref::ConverteLinks(text, u"");
            for (std::size_t offset = 0; offset < kOffsets; offset += 3) {
                const std::u16string_view placed =
                    placer.Place(text, offset, u"http", std::u16string_view(planted).substr(fits));
                ASSERT_EQ(ModPalavox::ConverteLinks(placed, u""), expected)
                    << Escaped(text) << " at offset " << offset;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, BoundaryLinks,
    ::testing::Combine(test::AllKernels(),
                       ::testing::Values(LinkCase{"EndedBySpace", u"http://a", u" b"},
                                         LinkCase{"EndedByCr", u"HTTP://a", u"\r\n"},
                                         LinkCase{"EndedByBar", u"hTtP", u"|"},
                                         LinkCase{"RunsToTheEnd",
                                                  u"Http://exemplo.com.br/a/b/c/d/e/f", u""},
                                         LinkCase{"AlmostALink", u"htt", u"p"})),
    test::KernelName{});

// Texts long enough for many vector blocks: counts tallied in vector lanes
// and summed now and then, links that run across several blocks.
TEST_P(BoundaryTest, LongTextsAgreeWithTheModel) {
    struct Case {
        const char* name;
        Text text, search;
    };
    const auto repeat = [](std::u16string_view piece, std::size_t times) {
        Text text;
        for (std::size_t i = 0; i < times; ++i) text += piece;
        return text;
    };
    const Case counts[] = {
        {"EveryUnit", Text(300001, u'a'), u"a"},
        {"EveryWord", repeat(u"para ", 70000) + u"par", u"para"},
        {"Overlapping", Text(100001, u'a'), u"aa"},
        {"NonAscii", repeat(u"a\u00E7\u00E3o A\u00C7\u00C3O ", 20000), u"A\u00C7\u00C3O"},
        {"Longer", repeat(u"informa\u00E7\u00E3o ", 20000), u"informa\u00E7\u00E3o"},
        // Units that narrow to 0xFF (long s, Kelvin sign, y with diaeresis),
        // one in 65, so that each falls at every place of a block in turn.
        {"LongS",
         u"ca\u017Fa " + repeat(u"casa ", 20) + repeat(repeat(u"casa ", 12) + u"ca\u017Fa ", 3001),
         u"CASA"},
        {"Kelvin", repeat(repeat(u"kilo ", 12) + u"\u212Ailo ", 3001) + u"\u212A", u"kIlo"},
        {"Saturated", repeat(repeat(u"casa ", 12) + u"\u00FFasa ", 3001), u"CASA"},
    };
    for (const Case& c : counts) {
        for (const std::u16string_view tipo : {u"B", u""}) {
            EXPECT_EQ(ref::FastContaOcorrencias(c.text, c.search, tipo),
                      ref::ContaOcorrencias(c.text, c.search, tipo))
                << c.name << " tipo " << Escaped(tipo);
        }
        const Text last = c.text + u"|" + c.search;
        EXPECT_EQ(Find(last, c.search, c.text.size() - 3, CompareMode::TextCompare),
                  ref::Find(last, c.search, c.text.size() - 3, CompareMode::TextCompare))
            << c.name;
    }

    // Links of every length up to several blocks, some holding "http" again.
    Text links;
    for (std::size_t length = 4; links.size() < 20000; length = length * 5 % 211 + 4) {
        Text link = u"hTtP" + Text(length - 4, u'x');
        if (length % 3 == 0)
            link.replace(length / 2, std::min<std::size_t>(4, length / 2), u"http");
        links += link + (length % 2 ? u" ab " : u"\r\n|");
    }
    EXPECT_EQ(ModPalavox::ConverteLinks(links, u"_top"), ref::ConverteLinks(links, u"_top"));
}

// Inputs that make every start a candidate which fails late, so that the
// search hands over to the two-way algorithm; the match is planted far in.
TEST_P(BoundaryTest, HostileSearchesStillFindTheRightMatch) {
    struct Case {
        const char* name;
        Text text, search;
        CompareMode mode;
    };
    const Text as(3000, u'a');
    const Text middleB = Text(40, u'a') + u"b" + Text(40, u'a');
    const Case cases[] = {
        {"MiddleAtEnd", as + middleB, middleB, CompareMode::BinaryCompare},
        {"MiddleInside", as + middleB + as, middleB, CompareMode::BinaryCompare},
        {"MiddleNowhere", as + as, middleB, CompareMode::BinaryCompare},
        {"MiddleFolded", as + Text(40, u'A') + u"B" + Text(40, u'A') + as, middleB,
         CompareMode::TextCompare},
        {"RepeatedMatches", as + middleB + middleB + u"b" + middleB + as, middleB,
         CompareMode::BinaryCompare},
        {"TwoPeriods", Text(500, u'a') + u"ab" + Text(500, u'a') + u"aab",
         Text(300, u'a') + u"ab" + Text(200, u'a'), CompareMode::BinaryCompare},
    };
    for (const Case& c : cases) {
        const std::u16string_view tipo = c.mode == CompareMode::BinaryCompare ? u"B" : u"";
        EXPECT_EQ(Find(c.text, c.search, 1, c.mode), ref::Find(c.text, c.search, 1, c.mode))
            << c.name;
        EXPECT_EQ(ref::FastContaOcorrencias(c.text, c.search, tipo),
                  ref::ContaOcorrencias(c.text, c.search, tipo))
            << c.name;
    }
    // Wherever the hand-over happens, the start right after it is still tried.
    for (std::size_t at = 0; at < 400; ++at) {
        const Text text = Text(at, u'a') + middleB + as;
        ASSERT_EQ(Find(text, middleB, 1, CompareMode::BinaryCompare), at + 1);
        ASSERT_EQ(Find(text, Text(middleB.size(), u'A').replace(40, 1, u"B"), 1,
                       CompareMode::TextCompare),
                  at + 1);
    }
}

// The fallback on its own, against the model, over every text of up to 11
// units and every search text of up to 5 over a two-letter alphabet: every
// periodic and aperiodic shape of search text those allow.
TEST(TwoWayTest, AgreesWithModelOnEveryShortText) {
    const auto all = [](std::size_t maxLength, char16_t a, char16_t b) {
        std::vector<Text> texts;
        for (std::size_t length = 0; length <= maxLength; ++length) {
            for (std::size_t bits = 0; bits < (std::size_t{1} << length); ++bits) {
                Text text(length, a);
                for (std::size_t i = 0; i < length; ++i) {
                    if (bits >> i & 1) text[i] = b;
                }
                texts.push_back(text);
            }
        }
        return texts;
    };
    const std::vector<Text> texts = all(11, u'a', u'b');
    const std::vector<Text> searches = all(5, u'a', u'b');
    const std::vector<Text> folded = all(5, u'A', u'B');
    // The empty search text too, and starts one past the end (nothing there).
    for (std::size_t s = 0; s < searches.size(); ++s) {
        const detail::Matcher binary(searches[s], CompareMode::BinaryCompare);
        const detail::Matcher text(folded[s], CompareMode::TextCompare);
        for (const Text& subject : texts) {
            for (std::size_t from = 0; from <= subject.size() + 1; from += 3) {
                const std::size_t found =
                    ref::Find(subject, searches[s], from + 1, CompareMode::BinaryCompare);
                const std::size_t expected = found == 0 ? detail::Matcher::npos : found - 1;
                ASSERT_EQ(binary.FindFromTwoWay(subject, from), expected)
                    << Escaped(subject) << " / " << Escaped(searches[s]) << " from " << from;
                ASSERT_EQ(text.FindFromTwoWay(subject, from), expected)
                    << Escaped(subject) << " / " << Escaped(folded[s]) << " from " << from;
                ASSERT_EQ(text.FindFrom(subject, from), expected)
                    << Escaped(subject) << " / " << Escaped(folded[s]) << " from " << from;
                const std::int32_t rest =
                    from >= subject.size()
                        ? -1
                        : ref::ContaOcorrencias(Text(subject).substr(from), searches[s], u"B");
                ASSERT_EQ(binary.CountTwoWay(subject, from), rest < 0 ? 0u : std::size_t(rest))
                    << Escaped(subject) << " / " << Escaped(searches[s]) << " from " << from;
            }
        }
    }
}

// A run of T at `offset` elements past a 64-byte boundary, between `slack`
// elements of `around` on either side: neighbours a loop must not read into
// its answer, or (for an output) must leave as they are.
template <class T>
class Placed {
public:
    Placed(std::size_t length, std::size_t offset, T around)
        : storage_(length + 2 * kSlack + 64 / sizeof(T), around), length_(length) {
        const auto address = reinterpret_cast<std::uintptr_t>(storage_.data() + kSlack);
        start_ = kSlack + (64 - address % 64) % 64 / sizeof(T) + offset;
    }
    T* data() { return storage_.data() + start_; }
    // Whether every element outside the run is still `around`.
    bool Untouched(T around) const {
        for (std::size_t i = 0; i < storage_.size(); ++i) {
            if ((i < start_ || i >= start_ + length_) && storage_[i] != around) return false;
        }
        return true;
    }

private:
    static constexpr std::size_t kSlack = 32;
    std::vector<T> storage_;
    std::size_t length_;
    std::size_t start_ = 0;
};

// The loops of palavox_units.h (the Python module's widening of a one-byte
// str, narrowing back, and comparing with folded units) against their
// definition at every length up to 70 and some long ones, at every placement.
TEST_P(BoundaryTest, UnitLoopsAtEveryLengthAndPlacement) {
    const pvx_unit_loops& loops = *pvx_units();
    std::mt19937 engine(14);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= kMaxLength; ++length) lengths.push_back(length);
    for (const std::size_t length : {127u, 2047u, 2048u, 2049u, 4113u}) lengths.push_back(length);
    for (const std::size_t length : lengths) {
        for (std::size_t offset = 0; offset < (length <= kMaxLength ? kOffsets : 2); ++offset) {
            SCOPED_TRACE("length " + std::to_string(length) + " at offset " +
                         std::to_string(offset));
            // Bytes of every value, 0x00, 0x80 and 0xFF among them.
            Placed<std::uint8_t> bytes(length, offset, 0xFF);
            for (std::size_t i = 0; i < length; ++i) bytes.data()[i] = std::uint8_t(engine());
            Placed<std::uint16_t> widened(length, offset % 8, 0xD800);
            loops.widen(bytes.data(), length, widened.data());
            Placed<std::uint8_t> narrowed(length, offset / 2, 0x5A);
            loops.narrow(widened.data(), length, narrowed.data());
            for (std::size_t i = 0; i < length; ++i) {
                ASSERT_EQ(widened.data()[i], bytes.data()[i]) << "widened, unit " << i;
                ASSERT_EQ(narrowed.data()[i], bytes.data()[i]) << "narrowed, byte " << i;
            }
            ASSERT_TRUE(widened.Untouched(0xD800)) << "widening wrote outside its units";
            ASSERT_TRUE(narrowed.Untouched(0x5A)) << "narrowing wrote outside its bytes";

            // Units past 0xFF too; the other run equal, or changed at one unit.
            // Neighbours hold every bit, so reading one shows in the answer.
            Placed<std::uint16_t> a(length, offset, 0xFFFF), b(length, offset / 4, 0x0000);
            for (std::size_t i = 0; i < length; ++i) {
                const unsigned mask = engine() % 2 ? 0x00FF : 0x7FFF;
                a.data()[i] = std::uint16_t(engine() & mask);
                b.data()[i] = a.data()[i];
            }
            for (const bool changed : {false, true}) {
                if (changed && length != 0) b.data()[engine() % length] ^= 0x0100;
                unsigned bits = 0, differ = 0;
                for (std::size_t i = 0; i < length; ++i) {
                    bits |= a.data()[i];
                    differ |= unsigned(a.data()[i] ^ b.data()[i]);
                }
                std::uint16_t gotBits = 1, gotDiffer = 1;
                loops.unite(a.data(), b.data(), length, &gotBits, &gotDiffer);
                ASSERT_EQ(gotBits, bits) << (changed ? "changed" : "equal");
                ASSERT_EQ(gotDiffer, differ) << (changed ? "changed" : "equal");
            }
        }
    }
}

// Its UTF-8 entries (the Arrow columns'): text/utf8/'s codec, whole texts or -1.
TEST_P(BoundaryTest, UnitLoopsUtf8) {
    const pvx_unit_loops& loops = *pvx_units();
    const struct {
        std::string bytes;
        std::u16string units;  // empty with `valid` false: -1
        bool valid;
    } rows[] = {
        {"", u"", true},
        {"A\xc3\xa7\xc3\xa3o " + std::string(40, 'x'),
         u"A\u00e7\u00e3o " + std::u16string(40, u'x'), true},
        {"\xe2\x82\xac\xf0\x9f\x98\x80", u"\u20ac\U0001F600", true},
        {"a\xff", u"", false},
        {"\xed\xa0\x80", u"", false},                     // an encoded surrogate
        {"\xc0\xaf", u"", false},                         // overlong
        {std::string(50, 'a') + "\xe2\x82", u"", false},  // cut short
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes);
        std::vector<std::uint16_t> units(row.bytes.size() + 1, 0xD800);
        const std::ptrdiff_t n =
            loops.decode_utf8(row.bytes.data(), row.bytes.size(), units.data());
        if (!row.valid) {
            ASSERT_EQ(n, -1);
            continue;
        }
        ASSERT_EQ(std::u16string(units.begin(), units.begin() + n), row.units);
        ASSERT_EQ(loops.utf8_units(row.bytes.data(), row.bytes.size()), std::size_t(n));
        ASSERT_EQ(loops.utf8_length(units.data(), std::size_t(n)), row.bytes.size());
        std::string back(3 * row.units.size() + 1, '\x5a');
        ASSERT_EQ(loops.encode_utf8(units.data(), std::size_t(n), back.data()),
                  std::ptrdiff_t(row.bytes.size()));
        ASSERT_EQ(back.substr(0, row.bytes.size()), row.bytes);
    }
    const std::uint16_t lone[] = {u'a', 0xD800, u'b'};
    char out[9];
    ASSERT_EQ(loops.encode_utf8(lone, 3, out), -1);
}

// The counts read a word at a time, a row's last word again: every length to
// 40 with each kind of character (one to four bytes; for the units a lone
// surrogate too) at every place, within a buffer whose neighbours would change
// them, against the rule written out.
std::size_t RuleLength(std::u16string_view units) {
    std::size_t bytes = 0;
    for (const char16_t u : units)
        bytes += u < 0x80 ? 1 : u < 0x800 || (u & 0xF800) == 0xD800 ? 2 : 3;
    return bytes;
}

TEST_P(BoundaryTest, Utf8CountsAtEveryLengthAndPlacement) {
    const pvx_unit_loops& loops = *pvx_units();
    const struct {
        std::string bytes;
        std::u16string units;
    } kinds[] = {{"a", u"a"},
                 {"\x7f", u"\x7f"},
                 {"\xc3\xa7", u"\u00e7"},
                 {"\xdf\xbf", u"\u07ff"},
                 {"\xe2\x82\xac", u"\u20ac"},
                 {"\xef\xbf\xbf", u"\uffff"},
                 {"\xf0\x9f\x98\x80", u"\U0001F600"}};
    for (const auto& kind : kinds) {
        for (std::size_t length = 1; length <= 40; ++length) {
            for (std::size_t at = 0; at < length; ++at) {
                SCOPED_TRACE(Escaped(kind.units) + " at " + std::to_string(at) + " of " +
                             std::to_string(length));
                const std::string bytes = "\xf0\x80" + std::string(at, 'x') + kind.bytes +
                                          std::string(length - at - 1, 'y') + "\xf0\x80";
                std::u16string units = u"\xd800\u0800" + std::u16string(at, u'x') + kind.units +
                                       std::u16string(length - at - 1, u'y') + u"\xd800\u0800";
                const std::size_t n_bytes = bytes.size() - 4, n_units = units.size() - 4;
                ASSERT_EQ(loops.utf8_units(bytes.data() + 2, n_bytes), n_units);
                const auto* u = reinterpret_cast<const std::uint16_t*>(units.data()) + 2;
                ASSERT_EQ(loops.utf8_length(u, n_units), n_bytes);
                units[2 + at] = 0xDC00;  // a lone surrogate
                ASSERT_EQ(loops.utf8_length(u, n_units),
                          RuleLength(std::u16string_view(units).substr(2, n_units)));
            }
        }
    }
    // Rows end to end, counted in one pass: rows of 0 to 40 characters of
    // every kind, each ending at every place of a block, and past the end of
    // the last whole block; against the count of each prefix.
    std::string bytes;
    std::u16string units;
    std::vector<std::int64_t> byte_ends, unit_ends;
    for (std::size_t row = 0; row < 300; ++row) {
        for (std::size_t c = 0; c < (row * 7) % 41; ++c) {
            const auto& kind = kinds[(row + c) % std::size(kinds)];
            bytes += kind.bytes;
            units += kind.units;
        }
        if (row % 5 == 0) units += u'\xdc00';   // a lone surrogate: two bytes
        if (row % 5 == 0) bytes += "\xed\xb0";  // as many bytes, not a unit
        byte_ends.push_back(static_cast<std::int64_t>(bytes.size()));
        unit_ends.push_back(static_cast<std::int64_t>(units.size()));
    }
    for (const std::size_t rows :
         {std::size_t{0}, std::size_t{1}, std::size_t{17}, std::size_t{300}}) {
        SCOPED_TRACE(rows);
        const std::size_t n_bytes = rows ? static_cast<std::size_t>(byte_ends[rows - 1]) : 0;
        const std::size_t n_units = rows ? static_cast<std::size_t>(unit_ends[rows - 1]) : 0;
        std::vector<std::int64_t> got(byte_ends.begin(),
                                      byte_ends.begin() + static_cast<std::ptrdiff_t>(rows));
        loops.utf8_units_at(bytes.data(), n_bytes, got.data(), rows);
        for (std::size_t r = 0; r < rows; ++r) {
            ASSERT_EQ(got[r], static_cast<std::int64_t>(loops.utf8_units(
                                  bytes.data(), static_cast<std::size_t>(byte_ends[r]))))
                << r;
        }
        got.assign(unit_ends.begin(), unit_ends.begin() + static_cast<std::ptrdiff_t>(rows));
        const auto* u = reinterpret_cast<const std::uint16_t*>(units.data());
        loops.utf8_length_at(u, n_units, got.data(), rows);
        for (std::size_t r = 0; r < rows; ++r) {
            ASSERT_EQ(got[r],
                      static_cast<std::int64_t>(RuleLength(std::u16string_view(units).substr(
                          0, static_cast<std::size_t>(unit_ends[r])))))
                << r;
        }
    }
    // A column whose last row ends where a whole block (window) does, an empty row after it.
    for (const std::int64_t n : {16, 32, 256, 512}) {
        SCOPED_TRACE(n);
        const std::string b(static_cast<std::size_t>(n), 'a');
        const std::u16string w(static_cast<std::size_t>(n), u'\u00e7');
        std::vector<std::int64_t> ends{5, n, n};
        loops.utf8_units_at(b.data(), b.size(), ends.data(), ends.size());
        ASSERT_EQ(ends, (std::vector<std::int64_t>{5, n, n}));
        ends = {5, n, n};
        loops.utf8_length_at(reinterpret_cast<const std::uint16_t*>(w.data()), w.size(),
                             ends.data(), ends.size());
        ASSERT_EQ(ends, (std::vector<std::int64_t>{10, 2 * n, 2 * n}));
    }
    // Past the 16,000 steps after which the block loops sum their lanes.
    std::u16string mixed;
    for (int k = 0; k < 70000; ++k) mixed += u"a\u00e7\u20ac\xd800";
    ASSERT_EQ(loops.utf8_length(reinterpret_cast<const std::uint16_t*>(mixed.data()), mixed.size()),
              RuleLength(mixed));
    ASSERT_EQ(loops.utf8_units("", 0), 0u);
    ASSERT_EQ(loops.utf8_length(nullptr, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Kernels, BoundaryTest, test::AllKernels(), test::KernelName{});

}  // namespace
}  // namespace palavox
