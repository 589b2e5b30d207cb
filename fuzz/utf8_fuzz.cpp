// The UTF-8 codec and the UTF-8 forms of folding, link markup and counting
// on raw bytes, under every kernel: each kernel decodes and checks exactly as
// the plain loops do, the valid prefix goes back to the same bytes through the
// tests' own encoder and through the codec's, and folding, markup and
// counting on the bytes give what the UTF-16 routines give. The same bytes read
// as UTF-16 units are encoded alike by every kernel. Every buffer ends where
// its heap block does, so ASan sees a read or write one byte past it.
//
// Input layout: one byte (bits 0-1 the target, bits 2-4 how many bytes the
// text is shifted in its block, bits 5-7 the search text), then the text's
// bytes as they are.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_input.hpp"
#include "palavox/mod_palavox.hpp"
#include "unicode_forms.hpp"
#include "utf8/utf8.hpp"
#include "count/utf8_count.hpp"
#include "fold/utf8_fold.hpp"
#include "links/utf8_links.hpp"

using namespace palavox;
using namespace palavox::fuzz;

namespace {

// Bytes at the end of a heap block of exactly their size (after `shift` others).
template <class Unit>
class PlacedBytes {
public:
    PlacedBytes(std::size_t size, std::size_t shift)
        : size_(size), shift_(shift), block_(new Unit[shift + size + (size == 0 ? 1 : 0)]) {}
    Unit* data() const noexcept { return block_.get() + shift_; }
    std::size_t size() const noexcept { return size_; }

private:
    std::size_t size_, shift_;
    std::unique_ptr<Unit[]> block_;
};

std::string AsUnits(std::string_view bytes) {
    std::u16string units;
    for (const char b : bytes) units += static_cast<char16_t>(static_cast<unsigned char>(b));
    return test::Escaped(units);
}

struct Decoding {
    utf8::Decoded decoded;
    std::u16string units;
};

Decoding DecodeAll(std::string_view bytes, std::size_t shift) {
    PlacedBytes<char16_t> out(bytes.size(), shift);
    const utf8::Decoded decoded = utf8::Decode(bytes, out.data());
    return {decoded, std::u16string(out.data(), decoded.units)};
}

// A result's room, placed as PlacedBytes; remembers whether it was asked.
class PlacedRoom final : public utf8::LinkRoom {
public:
    explicit PlacedRoom(std::size_t shift) noexcept : shift_(shift) {}
    char* Allocate(std::size_t bytes) override {
        bytes_.emplace(bytes, shift_);
        return bytes_->data();
    }
    std::optional<std::string_view> result() const {
        if (!bytes_) return std::nullopt;
        return std::string_view(bytes_->data(), bytes_->size());
    }

private:
    std::size_t shift_;
    std::optional<PlacedBytes<char>> bytes_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > kMaxInputBytes) return 0;
    static const std::u16string targets[] = {u"", u"_blank", u"x\"y \u00E7",
                                             std::u16string(80, u't')};
    const std::u16string& alvo = targets[data[0] & 3];
    const std::string target = *test::Utf8(alvo);
    const std::size_t shift = data[0] >> 2 & 7;
    PlacedBytes<char> input(size - 1, shift);
    std::copy(data + 1, data + size, input.data());
    const std::string_view bytes(input.data(), input.size());

    detail::UseKernel(detail::Kernel::Scalar);
    const Decoding plain = DecodeAll(bytes, shift);
    const std::string_view valid = bytes.substr(0, plain.decoded.valid);
    const std::optional<std::string> again = test::Utf8(plain.units);
    if (!again || *again != valid) {
        Fail("the valid prefix does not encode back to itself",
             {Show("bytes", AsUnits(bytes).c_str()), Show("units", plain.units)});
    }
    std::u16string asUnits;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        asUnits += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    const std::size_t plainLength = utf8::EncodedLength(asUnits);
    const std::string folded = *test::Utf8(ModPalavox::TrocaAcentos(plain.units));
    const std::string marked = *test::Utf8(ModPalavox::ConverteLinks(plain.units, alvo));

    // Search texts whose folds change their length in bytes, or that overlap;
    // the last, the text's own last bytes, valid or not.
    static const std::string_view searches[] = {
        "a", "ss", "K", "a\xC3\xA7\xC3\xA3o", "\xE2\x84\xAA", "\xC2\xB5", "aa"};
    const std::size_t pick = data[0] >> 5;
    const std::string_view search =
        pick < 7 ? searches[pick]
                 : bytes.substr(bytes.size() - std::min<std::size_t>(bytes.size(), 5));
    const Decoding searchUnits = DecodeAll(search, 0);
    const bool countable =
        valid.size() == bytes.size() && searchUnits.decoded.valid == search.size();
    std::size_t counts[2] = {utf8::kInvalidUtf8, utf8::kInvalidUtf8};
    const CompareMode modes[2] = {CompareMode::TextCompare, CompareMode::BinaryCompare};
    for (int k = 0; k < 2 && countable; ++k) {
        counts[k] = ModPalavox::ContaOcorrencias(plain.units, searchUnits.units, modes[k]);
    }

    ForEachKernel([&](const char* kernel) {
        for (int k = 0; k < 2; ++k) {
            const std::size_t got = utf8::ContaOcorrencias(bytes, search, modes[k]);
            if (got != counts[k]) {
                Fail("ContaOcorrencias on UTF-8 differs from the routine on its units",
                     {Show("bytes", AsUnits(bytes).c_str()),
                      Show("search", AsUnits(search).c_str()), Show("mode", ModeName(modes[k])),
                      Show("kernel", kernel), Show("got", static_cast<long long>(got)),
                      Show("routine", static_cast<long long>(counts[k]))});
            }
        }
        const Decoding got = DecodeAll(bytes, shift);
        if (got.decoded.valid != plain.decoded.valid ||
            got.decoded.truncated != plain.decoded.truncated || got.units != plain.units) {
            Fail("Decode differs from the plain loops",
                 {Show("bytes", AsUnits(bytes).c_str()), Show("kernel", kernel),
                  Show("valid", static_cast<long long>(got.decoded.valid)),
                  Show("plain", static_cast<long long>(plain.decoded.valid))});
        }
        const utf8::Decoded checked = utf8::Validate(bytes);
        if (checked.valid != plain.decoded.valid || checked.truncated != plain.decoded.truncated) {
            Fail("Validate differs from Decode",
                 {Show("bytes", AsUnits(bytes).c_str()), Show("kernel", kernel),
                  Show("valid", static_cast<long long>(checked.valid))});
        }

        if (utf8::EncodedLength(plain.units) != valid.size()) {
            Fail("EncodedLength of decoded units",
                 {Show("units", plain.units), Show("kernel", kernel)});
        }
        PlacedBytes<char> encoded(valid.size(), shift);
        if (utf8::Encode(plain.units, encoded.data()) != encoded.data() + valid.size() ||
            std::string_view(encoded.data(), valid.size()) != valid) {
            Fail("Encode differs", {Show("units", plain.units), Show("kernel", kernel)});
        }
        // Any units: the same length, or the same refusal, as the plain loops.
        if (utf8::EncodedLength(asUnits) != plainLength) {
            Fail("EncodedLength differs from the plain loops",
                 {Show("units", asUnits), Show("kernel", kernel)});
        }
        PlacedBytes<char> roomy(3 * asUnits.size(), shift);
        const char* const end = utf8::EncodeChecked(asUnits, roomy.data());
        if ((end == nullptr) != (plainLength == utf8::kUnpaired) ||
            (end != nullptr && static_cast<std::size_t>(end - roomy.data()) != plainLength)) {
            Fail("EncodeChecked disagrees with EncodedLength",
                 {Show("units", asUnits), Show("kernel", kernel)});
        }

        PlacedBytes<char> foldedOut(valid.size(), shift);
        const char* const foldedEnd = utf8::TrocaAcentos(valid, foldedOut.data());
        if (std::string_view(foldedOut.data(),
                             static_cast<std::size_t>(foldedEnd - foldedOut.data())) != folded) {
            Fail("TrocaAcentos on UTF-8 differs from the routine",
                 {Show("units", plain.units), Show("kernel", kernel)});
        }
        // Checked as folded, on every byte: refused exactly where invalid, else the same.
        PlacedBytes<char> checkedOut(bytes.size(), shift);
        const char* const checkedEnd = utf8::TrocaAcentosChecked(bytes, checkedOut.data());
        if ((checkedEnd == nullptr) != (valid.size() != bytes.size()) ||
            (checkedEnd != nullptr &&
             std::string_view(checkedOut.data(), static_cast<std::size_t>(
                                                     checkedEnd - checkedOut.data())) != folded)) {
            Fail("TrocaAcentosChecked differs from Validate and TrocaAcentos",
                 {Show("bytes", AsUnits(bytes).c_str()), Show("kernel", kernel)});
        }
        const std::size_t markedSize = utf8::ConverteLinksSize(valid, target);
        PlacedBytes<char> markedOut(markedSize, shift);
        if (markedSize != marked.size() ||
            utf8::ConverteLinks(valid, target, markedOut.data()) != markedOut.data() + markedSize ||
            std::string_view(markedOut.data(), markedSize) != marked) {
            Fail("ConverteLinks on UTF-8 differs from the routine",
                 {Show("units", plain.units), Show("alvo", alvo), Show("kernel", kernel)});
        }
        // Checked as the links are looked for, on every byte: refused exactly where
        // invalid, with no room asked for; else the same markup.
        PlacedRoom room(shift);
        const bool linked = utf8::ConverteLinksChecked(bytes, target, room);
        const bool whole = valid.size() == bytes.size();
        if (linked != whole || room.result().has_value() != whole ||
            (whole && *room.result() != marked)) {
            Fail("ConverteLinksChecked differs from Validate and ConverteLinks",
                 {Show("bytes", AsUnits(bytes).c_str()), Show("alvo", alvo),
                  Show("kernel", kernel)});
        }
    });
    return 0;
}
