// The UTF-8 codec and the UTF-8 forms of folding and link markup, under every
// kernel in one process: the codec against the tests' own one-code-point-at-
// a-time forms (random texts whose ASCII runs end at every offset of the
// vector blocks, every length of sequence, one bad byte placed anywhere), and
// the UTF-8 forms against the UTF-16 routines, on the shared cases and on
// random texts long enough for every block path.
#include "utf8/utf8.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cases/shared_cases.hpp"
#include "escaped.hpp"
#include "palavox/mod_palavox.hpp"
#include "text/simd/kernels.hpp"
#include "unicode_forms.hpp"
#include "count/utf8_count.hpp"
#include "fold/utf8_fold.hpp"
#include "links/utf8_links.hpp"
#include "utf8/utf8_steps.hpp"

namespace {

using palavox::test::AllKernels;
using palavox::test::KernelName;
using palavox::test::Utf8;
namespace utf8 = palavox::utf8;

// Pieces of texts: each encoded length at its edges, accented runs long enough
// for the eight-units-below-U+0800 blocks, what folding and links look at.
const std::u16string kPieces[] = {u"\u0080",
                                  u"\u07FF",
                                  u"\u0800",
                                  u"\u00E7",
                                  u"\uD7FF",
                                  u"\uE000",
                                  u"\uFFFF",
                                  u"\U00010000",
                                  u"\U0001F600",
                                  u"\U00040000",
                                  u"\U000FFFFD",
                                  u"\U0010FFFF",
                                  u"a\u00E7\u00E3o",
                                  u"\u00E9\u00C9\u00E9\u00E9\u00E9\u07FF\u00E9\u00E9\u00E9",
                                  u"\u00B4\u00A8\u00AA\u00BA\u00BF\u00C0\u00FF\u00F1",
                                  u"&(x)",
                                  u"http://a/",
                                  u"HtTp",
                                  u"htt",
                                  u" ",
                                  u"\r\n",
                                  u"|",
                                  u"\u201C"};

std::u16string RandomText(std::mt19937_64& random, unsigned pieces = 8) {
    std::u16string text;
    const auto count = random() % pieces;
    for (std::uint64_t k = 0; k < count; ++k) {
        text.append(random() % 40, static_cast<char16_t>(u'a' + random() % 26));
        text += kPieces[random() % std::size(kPieces)];
    }
    text.append(random() % 20, u'z');
    return text;
}

// What each byte may begin, and what may follow it second, as the Unicode
// Standard's table of well-formed byte sequences gives them (Table 3-7).
TEST(Utf8Lead, EveryByteAsTheStandardHasIt) {
    const struct {
        unsigned first, last, length, low, high;
    } rows[] = {
        {0x00, 0x7F, 1, 0, 0},       {0x80, 0xC1, 0, 0, 0},       {0xC2, 0xDF, 2, 0x80, 0xBF},
        {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F},
        {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF}, {0xF1, 0xF3, 4, 0x80, 0xBF},
        {0xF4, 0xF4, 4, 0x80, 0x8F}, {0xF5, 0xFF, 0, 0, 0},
    };
    for (const auto& r : rows) {
        for (unsigned b = r.first; b <= r.last; ++b) {
            const auto byte = static_cast<unsigned char>(b);
            const utf8::Lead lead = utf8::LeadOf(byte);
            EXPECT_EQ(r.length, utf8::SequenceLength(byte)) << std::hex << b;
            EXPECT_EQ(r.length, lead.length) << std::hex << b;
            EXPECT_EQ(r.low, lead.low) << std::hex << b;
            EXPECT_EQ(r.high, lead.high) << std::hex << b;
        }
    }
}

class Utf8Codec : public palavox::test::PerKernel<palavox::detail::Kernel> {};
INSTANTIATE_TEST_SUITE_P(Kernels, Utf8Codec, AllKernels(), KernelName());

TEST_P(Utf8Codec, RoundTripsRandomTexts) {
    std::mt19937_64 random(5);
    for (int round = 0; round < 3000; ++round) {
        const std::u16string text = RandomText(random);
        const std::string bytes = *Utf8(text);
        const std::string what = palavox::test::Escaped(text);

        std::vector<char16_t> units(bytes.size() + 1, u'#');
        const auto decoded = utf8::Decode(bytes, units.data());
        ASSERT_EQ(bytes.size(), decoded.valid) << what;
        ASSERT_FALSE(decoded.truncated) << what;
        ASSERT_EQ(text, std::u16string(units.data(), decoded.units)) << what;
        ASSERT_EQ(u'#', units[bytes.size()]) << what << ": wrote past its room";
        ASSERT_EQ(bytes.size(), utf8::Validate(bytes).valid) << what;

        ASSERT_EQ(bytes.size(), utf8::EncodedLength(text)) << what;
        std::string encoded(bytes.size() + 1, '#');
        ASSERT_EQ(encoded.data() + bytes.size(), utf8::Encode(text, encoded.data())) << what;
        ASSERT_EQ(bytes + "#", encoded) << what;
        std::string roomy(3 * text.size(), '#');
        const char* end = utf8::EncodeChecked(text, roomy.data());
        ASSERT_NE(nullptr, end) << what;
        ASSERT_EQ(bytes, std::string(static_cast<const char*>(roomy.data()), end)) << what;

        // One code point at a time; the ends of their bytes are where
        // WholePrefix may cut, and it cuts at the last of them not past n.
        std::string byCodePoint;
        std::vector<std::size_t> ends{0};
        for (std::size_t i = 0; i < text.size();) {
            const utf8::CodePoint c = utf8::CodePointAt(text, i);
            i += c.units;
            char one[4];
            const char* const oneEnd = utf8::EncodeCodePoint(c.value, one);
            ASSERT_NE(nullptr, oneEnd) << what << " at unit " << i;
            byCodePoint.append(static_cast<const char*>(one), oneEnd);
            ends.push_back(byCodePoint.size());
        }
        ASSERT_EQ(bytes, byCodePoint) << what;
        for (std::size_t n = 0, k = 0; n <= bytes.size() + 1; ++n) {
            while (k + 1 < ends.size() && ends[k + 1] <= n) ++k;
            ASSERT_EQ(ends[k], utf8::WholePrefix(bytes, n)) << what << " at most " << n;
        }
    }
}

// A bad byte stops decoding at the start of the sequence it spoils, with
// everything before it decoded; cut short at the end, the rest is "truncated".
// Checking alone stops at the same place.
TEST_P(Utf8Codec, StopsAtTheFirstInvalidSequence) {
    std::mt19937_64 random(6);
    for (int round = 0; round < 3000; ++round) {
        const std::u16string head = RandomText(random);
        const std::string good = *Utf8(head);
        const std::string bad[] = {"\x80",         "\xC0\xAF",         "\xC1\x81",
                                   "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFE",
                                   "\xE2\x28\xA1", "\xC3\xC3\xA1",     "\xC3("};
        // Long enough after the bad bytes for vector blocks to take them too.
        const std::string bytes = good + bad[random() % std::size(bad)] +
                                  "then a tail long enough for two blocks \xC3\xA1 of 32 bytes";
        std::vector<char16_t> units(bytes.size());
        const auto decoded = utf8::Decode(bytes, units.data());
        ASSERT_EQ(good.size(), decoded.valid) << palavox::test::Escaped(head);
        ASSERT_FALSE(decoded.truncated);
        ASSERT_EQ(head, std::u16string(units.data(), decoded.units));
        const auto checked = utf8::Validate(bytes);
        ASSERT_EQ(good.size(), checked.valid) << palavox::test::Escaped(head);
        ASSERT_FALSE(checked.truncated);
        // Folded as checked, in one pass: refused alike.
        std::string folded(bytes.size(), '#');
        ASSERT_EQ(nullptr, utf8::TrocaAcentosChecked(bytes, folded.data()))
            << palavox::test::Escaped(head);
        // Counted as checked: refused alike, on the bytes or decoded.
        for (const std::size_t keep : {good.size() + 2, bytes.size()}) {
            for (const palavox::CompareMode mode :
                 {palavox::CompareMode::TextCompare, palavox::CompareMode::BinaryCompare}) {
                ASSERT_EQ(
                    utf8::kInvalidUtf8,
                    utf8::ContaOcorrencias(std::string_view(bytes).substr(0, keep), "a", mode))
                    << palavox::test::Escaped(head);
            }
        }

        const std::string cut = good + std::string("\xF0\x9F\x98\x80").substr(0, 1 + random() % 3);
        const auto partial = utf8::Decode(cut, units.data());
        ASSERT_EQ(good.size(), partial.valid);
        ASSERT_TRUE(partial.truncated);
        ASSERT_TRUE(utf8::Validate(cut).truncated);
        ASSERT_EQ(nullptr, utf8::TrocaAcentosChecked(cut, folded.data()));
    }
}

TEST_P(Utf8Codec, UnpairedSurrogatesHaveNoUtf8Form) {
    for (const std::u16string& s :
         {std::u16string(20, u'a') + u"\xD800", std::u16string(u"a\xD800"),
          std::u16string(17, u'\u00E9') + u"\xDC00",
          std::u16string(9, u'a') + u"\xDC00" + u"aaaaaaaa", std::u16string(u"\xD800\xD800\xDC00"),
          std::u16string(u"aaaaaaa\xDBFF"
                         u"aaaaaaaaa"),
          // A low surrogate is never the first of a pair, whatever follows it.
          std::u16string(u"\xDC00\xDC00"), std::u16string(u"x\xDC00\xDFFF"),
          std::u16string(30, u'a') + u"\xDC00\xDC00"}) {
        EXPECT_EQ(utf8::kUnpaired, utf8::EncodedLength(s)) << palavox::test::Escaped(s);
        // In storage of exactly its length, as a caller may hand it over: the
        // sanitizer build sees any read past the last unit.
        const std::unique_ptr<char16_t[]> exact(new char16_t[s.size()]);
        std::copy(s.begin(), s.end(), exact.get());
        EXPECT_EQ(utf8::kUnpaired, utf8::EncodedLength({exact.get(), s.size()}));
        std::string roomy(3 * s.size(), '#');
        EXPECT_EQ(nullptr, utf8::EncodeChecked(s, roomy.data())) << palavox::test::Escaped(s);
        // Read a code point at a time, the unpaired one stands alone, without a form.
        const std::u16string_view inExact{exact.get(), s.size()};
        bool unpaired = false;
        for (std::size_t i = 0; i < s.size();) {
            const utf8::CodePoint c = utf8::CodePointAt(inExact, i);
            char one[4];
            if (utf8::EncodeCodePoint(c.value, one) == nullptr) {
                unpaired = true;
                EXPECT_EQ(1u, c.units);
                EXPECT_EQ(s[i], c.value);
            }
            i += c.units;
        }
        EXPECT_TRUE(unpaired) << palavox::test::Escaped(s);
    }
    char one[4];
    EXPECT_EQ(nullptr, utf8::EncodeCodePoint(0x110000, one));
    // On bytes that are not UTF-8, a cut steps back over three bytes at most,
    // and never before the first.
    EXPECT_EQ(2u, utf8::WholePrefix("\x80\x80\x80\x80\x80\x80", 5));
    EXPECT_EQ(0u, utf8::WholePrefix("\x80\x80", 1));
    EXPECT_EQ(0u, utf8::WholePrefix("\x80\x80", 0));
}

// The UTF-8 forms give the UTF-8 of what the routines give: the shared cases
// of the two methods that have them, then random texts of every length, and
// each text again after 70 bytes of prose so that the block paths see it.
class Utf8Forms : public palavox::test::PerKernel<palavox::detail::Kernel> {};
INSTANTIATE_TEST_SUITE_P(Kernels, Utf8Forms, AllKernels(), KernelName());

::testing::AssertionResult SameAsTheRoutines(std::u16string_view text, std::u16string_view alvo) {
    const std::string bytes = *Utf8(text), target = *Utf8(alvo);
    std::string folded(bytes.size() + 1, '#');
    folded.resize(
        static_cast<std::size_t>(utf8::TrocaAcentos(bytes, folded.data()) - folded.data()));
    const std::string foldedWant = *Utf8(palavox::ModPalavox::TrocaAcentos(text));
    if (folded != foldedWant) {
        return ::testing::AssertionFailure() << "folding " << palavox::test::Escaped(text);
    }
    std::string checked(bytes.size() + 1, '#');
    const char* const checkedEnd = utf8::TrocaAcentosChecked(bytes, checked.data());
    if (checkedEnd == nullptr ||
        std::string_view(checked.data(), static_cast<std::size_t>(checkedEnd - checked.data())) !=
            foldedWant ||
        checked[bytes.size()] != '#') {
        return ::testing::AssertionFailure()
               << "folding as checked " << palavox::test::Escaped(text);
    }
    const std::size_t size = utf8::ConverteLinksSize(bytes, target);
    std::string marked(size + 1, '#');
    const char* const end = utf8::ConverteLinks(bytes, target, marked.data());
    const std::string markedWant = *Utf8(palavox::ModPalavox::ConverteLinks(text, alvo));
    if (end != marked.data() + size || marked.substr(0, size) != markedWant ||
        marked[size] != '#') {
        return ::testing::AssertionFailure()
               << "markup of " << palavox::test::Escaped(text) << " to "
               << palavox::test::Escaped(alvo) << ": size " << size << " for " << markedWant.size();
    }
    return ::testing::AssertionSuccess();
}

// Counting on the bytes, in both modes, against the routine on the units.
::testing::AssertionResult CountsAsTheRoutine(std::u16string_view text,
                                              std::u16string_view search) {
    const std::string bytes = *Utf8(text), searchBytes = *Utf8(search);
    for (const palavox::CompareMode mode :
         {palavox::CompareMode::TextCompare, palavox::CompareMode::BinaryCompare}) {
        const std::size_t got = utf8::ContaOcorrencias(bytes, searchBytes, mode);
        const std::size_t want = palavox::ModPalavox::ContaOcorrencias(text, search, mode);
        if (got != want) {
            return ::testing::AssertionFailure()
                   << "counting " << palavox::test::Escaped(search) << " in "
                   << palavox::test::Escaped(text)
                   << (mode == palavox::CompareMode::BinaryCompare ? " exactly: "
                                                                   : " ignoring case: ")
                   << got << " for " << want;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_P(Utf8Forms, SameAsTheRoutines) {
    const std::u16string prose =
        u"Ver as informa\u00E7\u00F5es (S\u00E3o Paulo) & mais: http://x.com/a?b=\u00E7 e ";
    int checked = 0;
    for (const palavox::cases::Case& c : palavox::cases::Shared()) {
        bool representable = true;
        for (const auto& a : c.args) representable = representable && Utf8(a).has_value();
        if (!representable) continue;
        if (c.method == palavox::cases::Method::FindString) {
            ASSERT_TRUE(CountsAsTheRoutine(c.args[0], c.args[1])) << palavox::cases::Describe(c);
            continue;
        }
        const std::u16string alvo = c.args.size() > 1 ? c.args[1] : u"";
        ASSERT_TRUE(SameAsTheRoutines(c.args[0], alvo)) << palavox::cases::Describe(c);
        ASSERT_TRUE(SameAsTheRoutines(prose + c.args[0], alvo)) << palavox::cases::Describe(c);
        ++checked;
    }
    EXPECT_GE(checked, 150);
    std::mt19937_64 random(7);
    const std::u16string targets[] = {u"", u"_blank", std::u16string(u"\u00E9").append(70, u't')};
    for (int round = 0; round < 2000; ++round) {
        const std::u16string text = RandomText(random, 24);
        ASSERT_TRUE(
            SameAsTheRoutines(text, targets[static_cast<std::size_t>(round) % std::size(targets)]));
        // A search text the text holds, in another case, or one of the pieces.
        std::u16string search = kPieces[random() % std::size(kPieces)];
        if (random() % 2 == 0 && !text.empty()) {
            const std::size_t at = random() % text.size();
            const std::u16string held =
                palavox::ModPalavox::TrocaAcentos(text.substr(at, 1 + random() % 6));
            if (Utf8(held)) search = held;  // not a pair cut in two
        }
        ASSERT_TRUE(CountsAsTheRoutine(text, search));
        std::size_t head = std::min<std::size_t>(text.size(), random() % 70);
        if (head > 0 && (text[head - 1] & 0xFC00) == 0xD800) --head;
        ASSERT_TRUE(CountsAsTheRoutine(text.substr(0, head), search));
    }
}

}  // namespace
