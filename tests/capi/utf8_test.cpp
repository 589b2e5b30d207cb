// The codec the C interface and the command share, against the tests' own
// one-code-point-at-a-time forms: random texts whose ASCII runs end at every
// offset of the vector blocks, every length of sequence, and one bad byte
// placed anywhere.
#include "utf8.hpp"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "escaped.hpp"
#include "unicode_forms.hpp"

namespace {

std::u16string RandomText(std::mt19937_64& random) {
    // ASCII runs of every length around the 8- and 16-wide blocks, and each
    // encoded length at its edges.
    static const std::u16string singles[] = {
        u"\u0080", u"\u07FF", u"\u0800", u"\u00E7", u"\uD7FF", u"\uE000", u"\uFFFF", u"\U00010000",
        u"\U0001F600", u"\U0010FFFF",
        // Accented runs long enough for the eight-units-below-U+0800 blocks.
        u"a\u00E7\u00E3o", u"\u00E9\u00C9\u00E9\u00E9\u00E9\u07FF\u00E9\u00E9\u00E9"};
    std::u16string text;
    const auto pieces = random() % 8;
    for (std::uint64_t k = 0; k < pieces; ++k) {
        text.append(random() % 40, static_cast<char16_t>(u'a' + random() % 26));
        text += singles[random() % std::size(singles)];
    }
    text.append(random() % 20, u'z');
    return text;
}

using Encoder = char* (*)(std::u16string_view, char*) noexcept;

std::vector<std::pair<const char*, Encoder>> Encoders() {
    std::vector<std::pair<const char*, Encoder>> all = {
        {"chosen", palavox::utf8::Encode},
        {"plain", palavox::utf8::detail::Encode<false>},
        {"plain, checked", palavox::utf8::detail::Encode<true>}};
#if PALAVOX_UTF8_SSSE3
    if (palavox::utf8::detail::HasSsse3()) {
        all.push_back({"ssse3", palavox::utf8::detail::EncodeSsse3<false>});
        all.push_back({"ssse3, checked", palavox::utf8::detail::EncodeSsse3<true>});
    }
#endif
    return all;
}

TEST(Utf8Codec, RoundTripsRandomTexts) {
    std::mt19937_64 random(5);
    for (int round = 0; round < 3000; ++round) {
        const std::u16string text = RandomText(random);
        const std::string bytes = *palavox::test::Utf8(text);
        const std::string what = palavox::test::Escaped(text);

        std::vector<char16_t> units(bytes.size() + 1, u'#');
        const auto decoded = palavox::utf8::Decode(bytes, units.data());
        ASSERT_EQ(bytes.size(), decoded.valid) << what;
        ASSERT_FALSE(decoded.truncated) << what;
        ASSERT_EQ(text, std::u16string(units.data(), decoded.units)) << what;
        ASSERT_EQ(u'#', units[bytes.size()]) << what << ": wrote past its room";

        ASSERT_EQ(bytes.size(), palavox::utf8::EncodedLength(text)) << what;
        // Every encoder this machine can run, not only the one chosen for it.
        for (const auto& [name, encode] : Encoders()) {
            std::string encoded(bytes.size() + 1, '#');
            ASSERT_EQ(encoded.data() + bytes.size(), encode(text, encoded.data()))
                << name << " " << what;
            ASSERT_EQ(bytes + "#", encoded) << name << " " << what;
        }
        std::string roomy(3 * text.size(), '#');
        const char* end = palavox::utf8::EncodeChecked(text, roomy.data());
        ASSERT_NE(nullptr, end) << what;
        ASSERT_EQ(bytes, std::string(static_cast<const char*>(roomy.data()), end)) << what;
    }
}

// A bad byte stops decoding at the start of the sequence it spoils, with
// everything before it decoded; cut short at the end, the rest is "truncated".
TEST(Utf8Codec, StopsAtTheFirstInvalidSequence) {
    std::mt19937_64 random(6);
    for (int round = 0; round < 3000; ++round) {
        const std::u16string head = RandomText(random);
        const std::string good = *palavox::test::Utf8(head);
        const std::string bad[] = {"\x80", "\xC0\xAF",    "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                   "\xFE", "\xE2\x28\xA1"};
        const std::string bytes = good + bad[random() % std::size(bad)] + "tail of ascii text";
        std::vector<char16_t> units(bytes.size());
        const auto decoded = palavox::utf8::Decode(bytes, units.data());
        ASSERT_EQ(good.size(), decoded.valid) << palavox::test::Escaped(head);
        ASSERT_FALSE(decoded.truncated);
        ASSERT_EQ(head, std::u16string(units.data(), decoded.units));

        const std::string cut = good + std::string("\xF0\x9F\x98\x80").substr(0, 1 + random() % 3);
        const auto partial = palavox::utf8::Decode(cut, units.data());
        ASSERT_EQ(good.size(), partial.valid);
        ASSERT_TRUE(partial.truncated);
    }
}

TEST(Utf8Codec, UnpairedSurrogatesHaveNoUtf8Form) {
    for (const std::u16string& s :
         {std::u16string(20, u'a') + u"\xD800", std::u16string(17, u'\u00E9') + u"\xDC00",
          std::u16string(9, u'a') + u"\xDC00" + u"aaaaaaaa", std::u16string(u"\xD800\xD800\xDC00"),
          std::u16string(u"aaaaaaa\xDBFF"
                         u"aaaaaaaaa")}) {
        EXPECT_EQ(palavox::utf8::kUnpaired, palavox::utf8::EncodedLength(s))
            << palavox::test::Escaped(s);
        std::string roomy(3 * s.size(), '#');
        EXPECT_EQ(nullptr, palavox::utf8::EncodeChecked(s, roomy.data()))
            << palavox::test::Escaped(s);
        EXPECT_EQ(nullptr, palavox::utf8::detail::Encode<true>(s, roomy.data()))
            << palavox::test::Escaped(s);
    }
}

}  // namespace
