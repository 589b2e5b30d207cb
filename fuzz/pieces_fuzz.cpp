// Text in pieces against one call on the whole text. The input chooses the
// operation and its argument, the text, where it is cut and how much room
// each output has; the streams' output, count, or error and its byte offset
// must be the whole call's, every piece of output whole code points, and
// every call must take something. Read as UTF-8, the text goes through the C
// interface's streams and is held to its _utf8 functions; read as the
// command reads files (a byte-order mark may switch to UTF-16), through
// text/pieces/ and held to the routines on the units the bytes spell. The
// pieced runs go under every kernel.
//
// Input layout:
//   byte 0      bits 0-1  fold, link, count, count with tipo "B"
//               bit 2     read as the command reads files (else UTF-8)
//               bits 3-5  the output's room: 4 5 6 7 16 64 1024 65536 bytes
//   byte        n (mod 64), then n bytes: the target or procura, as they are
//   byte        k (mod 16), then k bytes: the pieces' lengths, taken in turn
//               and over again (0: an empty piece); none: one piece
//   the rest    the text's bytes
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.hpp"
#include "palavox/error.hpp"
#include "palavox/palavox.h"
#include "palavox/palavox_class.hpp"
#include "pieces/pieces.hpp"
#include "unicode_forms.hpp"
#include "utf8/utf8.hpp"

using namespace palavox;
using namespace palavox::fuzz;

namespace {

enum class Operation { Fold, Link, Count, CountBinary };

// What a run gives: the output (a count as its decimal), or an error number
// with, for invalid input, the byte offset of the fault.
struct Outcome {
    int error = 0;
    std::uint64_t offset = 0;  // error 5 on the text only
    std::string output;
    bool operator==(const Outcome&) const = default;
};

std::string Bytes(std::string_view bytes) {
    std::u16string units;
    for (const char b : bytes) units += static_cast<char16_t>(static_cast<unsigned char>(b));
    return test::Escaped(units);
}

std::string Describe(const Outcome& o) {
    if (o.error == 0) return "output " + Bytes(o.output);
    return "error " + std::to_string(o.error) + " at byte " + std::to_string(o.offset);
}

struct Input {
    Operation operation;
    bool marked;
    std::size_t room;
    std::string_view argument;
    std::vector<std::size_t> pieces;  // lengths, taken in turn
    std::string_view text;
};

std::optional<Input> Parse(const std::uint8_t* data, std::size_t size) {
    static constexpr std::size_t kRooms[] = {4, 5, 6, 7, 16, 64, 1024, 65536};
    if (size < 2) return std::nullopt;
    const char* const bytes = reinterpret_cast<const char*>(data);
    Input in;
    in.operation = static_cast<Operation>(data[0] & 3);
    in.marked = (data[0] >> 2 & 1) != 0;
    in.room = kRooms[data[0] >> 3 & 7];
    const std::size_t n = std::min<std::size_t>(data[1] % 64, size - 2);
    in.argument = {bytes + 2, n};
    std::size_t at = 2 + n;
    if (at < size) {
        const std::size_t k = std::min<std::size_t>(data[at] % 16, size - at - 1);
        for (++at; in.pieces.size() < k; ++at) in.pieces.push_back(data[at]);
    }
    in.text = {bytes + at, size - at};
    return in;
}

// The pieces' ends over a text of `size` bytes: the lengths in turn, the
// rest in one piece once a whole turn has taken nothing.
std::vector<std::size_t> Cuts(const std::vector<std::size_t>& lengths, std::size_t size) {
    std::vector<std::size_t> cuts;
    std::size_t at = 0, turn = 0;
    for (std::size_t i = 0; !lengths.empty() && at < size; ++i) {
        if (i % lengths.size() == 0) {
            if (i != 0 && at == turn) break;
            turn = at;
        }
        at = std::min(size, at + lengths[i % lengths.size()]);
        cuts.push_back(at);
    }
    cuts.push_back(size);
    return cuts;
}

// Checks each piece of output and each call's progress; keeps the output.
class Taker {
public:
    Taker(const Input& in, const char* kernel) : in_(in), kernel_(kernel) {}
    // `moved`: the call read input or was not to read any.
    void Took(std::string_view piece, bool moved) {
        const utf8::Decoded decoded = utf8::Validate(piece);
        if (decoded.valid != piece.size()) {
            Fail("a piece of output that is not whole code points",
                 {Show("text", Bytes(in_.text).c_str()), Show("piece", Bytes(piece).c_str()),
                  Show("kernel", kernel_)});
        }
        if (!moved && piece.empty()) {
            Fail("a call that took nothing",
                 {Show("text", Bytes(in_.text).c_str()),
                  Show("room", static_cast<long long>(in_.room)), Show("kernel", kernel_)});
        }
        output += piece;
    }
    std::string output;

private:
    const Input& in_;
    const char* kernel_;
};

// ---- UTF-8 through the C interface

Outcome WholeCall(const Input& in) {
    Outcome o;
    const std::string_view t = in.text, a = in.argument;
    if (in.operation == Operation::Count || in.operation == Operation::CountBinary) {
        std::int32_t count = 0;
        o.error = palavox_find_string_utf8(t.data(), t.size(), a.data(), a.size(), "B",
                                           in.operation == Operation::CountBinary ? 1 : 0, &count);
        if (o.error == 0) o.output = std::to_string(count);
    } else {
        char* result = nullptr;
        std::size_t length = 0;
        o.error =
            in.operation == Operation::Fold
                ? palavox_remover_acentuacao_utf8(t.data(), t.size(), &result, &length)
                : palavox_trata_html_utf8(t.data(), t.size(), a.data(), a.size(), &result, &length);
        if (o.error == 0) o.output.assign(result, length);
        palavox_free(result);
    }
    if (o.error == kInvalidArgument) o.offset = utf8::Validate(t).valid;
    return o;
}

// nullopt when the stream could not be made (its argument is not UTF-8).
std::optional<Outcome> CStreams(const Input& in, const char* kernel) {
    const bool count = in.operation == Operation::Count || in.operation == Operation::CountBinary;
    palavox_stream* raw = nullptr;
    int rc = 0;
    switch (in.operation) {
        case Operation::Fold:
            rc = palavox_remover_acentuacao_stream(&raw);
            break;
        case Operation::Link:
            rc = palavox_trata_html_stream(in.argument.data(), in.argument.size(), &raw);
            break;
        case Operation::Count:
        case Operation::CountBinary:
            rc = palavox_find_string_stream(in.argument.data(), in.argument.size(), "B",
                                            in.operation == Operation::CountBinary ? 1 : 0, &raw);
            break;
    }
    const std::unique_ptr<palavox_stream, void (*)(palavox_stream*)> stream(raw,
                                                                            palavox_stream_free);
    if (rc != 0) {
        if (rc != kInvalidArgument || raw != nullptr ||
            utf8::Validate(in.argument).valid == in.argument.size()) {
            Fail("a stream refused a valid argument", {Show("argument", Bytes(in.argument).c_str()),
                                                       Show("rc", static_cast<long long>(rc))});
        }
        return std::nullopt;
    }
    Taker taker(in, kernel);
    std::string buffer(in.room, '\0');
    Outcome o;
    std::size_t at = 0;
    for (const std::size_t cut : Cuts(in.pieces, in.text.size())) {
        palavox_in_buffer piece{in.text.data() + at, cut - at, 0};
        at = cut;
        do {
            palavox_out_buffer out{count ? nullptr : buffer.data(), count ? 0 : in.room, 0};
            const std::size_t before = piece.pos;
            rc = palavox_stream_step(stream.get(), &piece, &out);
            if (rc != 0) break;
            taker.Took({out.dst, out.pos}, piece.pos != before || before == piece.size);
        } while (piece.pos < piece.size);
        if (rc != 0) break;
    }
    if (rc == 0 && count) {
        std::int32_t result = 0;
        rc = palavox_stream_end_count(stream.get(), &result);
        if (rc == 0) taker.output = std::to_string(result);
    }
    for (std::size_t left = 1; rc == 0 && !count && left != 0;) {
        palavox_out_buffer out{buffer.data(), in.room, 0};
        rc = palavox_stream_end(stream.get(), &out, &left);
        if (rc == 0) taker.Took({out.dst, out.pos}, left == 0);
    }
    o.error = rc;
    if (rc == 0) o.output = std::move(taker.output);
    if (rc == kInvalidArgument) o.offset = palavox_stream_offset(stream.get());
    if (rc == 0 && palavox_stream_offset(stream.get()) != in.text.size()) {
        Fail("the offset after the end is not the text's length",
             {Show("text", Bytes(in.text).c_str()),
              Show("offset", static_cast<long long>(palavox_stream_offset(stream.get())))});
    }
    if (rc != 0) {
        // Spent: ending again gives the same number.
        std::int32_t result = 0;
        std::size_t left = 0;
        palavox_out_buffer out{buffer.data(), in.room, 0};
        const int again = count ? palavox_stream_end_count(stream.get(), &result)
                                : palavox_stream_end(stream.get(), &out, &left);
        if (again != rc) {
            Fail("a spent stream answered another number",
                 {Show("text", Bytes(in.text).c_str()), Show("rc", static_cast<long long>(rc)),
                  Show("again", static_cast<long long>(again))});
        }
    }
    return o;
}

// ---- As the command reads files, through text/pieces/

// The units the bytes spell after their mark, or where they stop being text.
struct Spelled {
    std::u16string units;
    std::optional<std::uint64_t> invalidAt;
};

Spelled Spell(std::string_view bytes) {
    Spelled s;
    const bool le = bytes.starts_with("\xFF\xFE"), be = bytes.starts_with("\xFE\xFF");
    if (!le && !be) {
        const std::size_t mark = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
        const std::string_view rest = bytes.substr(mark);
        s.units.resize(rest.size());
        const utf8::Decoded d = utf8::Decode(rest, s.units.data());
        s.units.resize(d.units);
        if (d.valid != rest.size()) s.invalidAt = mark + d.valid;
        return s;
    }
    std::u16string all;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]),
                   b = static_cast<unsigned char>(bytes[i + 1]);
        all += static_cast<char16_t>(le ? (a | b << 8) : (a << 8 | b));
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        const char16_t u = all[i];
        const bool high = u >= 0xD800 && u < 0xDC00, low = u >= 0xDC00 && u < 0xE000;
        if (high && i + 1 < all.size() && all[i + 1] >= 0xDC00 && all[i + 1] < 0xE000) {
            s.units += u;
            s.units += all[++i];
        } else if (high || low) {
            s.invalidAt = 2 + 2 * i;
            return s;
        } else {
            s.units += u;
        }
    }
    if (bytes.size() % 2 != 0) s.invalidAt = bytes.size() - 1;
    return s;
}

std::u16string_view Tipo(const Input& in) {
    return in.operation == Operation::CountBinary ? u"B" : u"";
}

// nullopt when the argument is not UTF-8.
std::optional<std::u16string> Argument(const Input& in) {
    std::u16string units(in.argument.size(), u'\0');
    const utf8::Decoded d = utf8::Decode(in.argument, units.data());
    if (d.valid != in.argument.size()) return std::nullopt;
    units.resize(d.units);
    return units;
}

Outcome Routines(const Input& in, std::u16string_view argument) {
    Outcome o;
    const Spelled s = Spell(in.text);
    if (s.invalidAt) {
        o.error = kInvalidArgument;
        o.offset = *s.invalidAt;
        return o;
    }
    const PalavoxClass palavox;
    try {
        switch (in.operation) {
            case Operation::Fold:
                o.output = *test::Utf8(palavox.RemoverAcentuacao(s.units));
                break;
            case Operation::Link:
                o.output = *test::Utf8(palavox.TrataHTML(s.units, argument));
                break;
            case Operation::Count:
            case Operation::CountBinary:
                o.output = std::to_string(palavox.FindString(s.units, argument, Tipo(in)));
                break;
        }
    } catch (const Error& e) {
        o.error = e.number();
    }
    return o;
}

Outcome Pieces(const Input& in, std::u16string_view argument, const char* kernel) {
    constexpr auto kMarked = pieces::Input::ByteOrderMark;
    const PalavoxClass::FindStringFrame frame(argument, Tipo(in));
    std::unique_ptr<pieces::Stream> stream;
    switch (in.operation) {
        case Operation::Fold:
            stream = std::make_unique<pieces::FoldStream>(kMarked);
            break;
        case Operation::Link:
            stream = std::make_unique<pieces::LinkStream>(in.argument, kMarked);
            break;
        case Operation::Count:
        case Operation::CountBinary:
            stream = std::make_unique<pieces::CountStream>(std::u16string(argument), frame.mode(),
                                                           kMarked);
            break;
    }
    Taker taker(in, kernel);
    std::string buffer(in.room, '\0');
    Outcome o;
    try {
        std::size_t at = 0;
        for (const std::size_t cut : Cuts(in.pieces, in.text.size())) {
            pieces::InBuffer piece{in.text.data() + at, cut - at, 0};
            at = cut;
            do {
                pieces::OutBuffer out{buffer.data(), in.room, 0};
                const std::size_t before = piece.pos;
                stream->Step(piece, out);
                taker.Took({out.dst, out.pos}, piece.pos != before || before == piece.size);
            } while (piece.pos < piece.size);
        }
        for (std::size_t left = 1; left != 0;) {
            pieces::OutBuffer out{buffer.data(), in.room, 0};
            left = stream->End(out);
            taker.Took({out.dst, out.pos}, left == 0);
        }
        if (in.operation == Operation::Count || in.operation == Operation::CountBinary) {
            const auto& count = static_cast<const pieces::CountStream&>(*stream);
            taker.output = std::to_string(frame.Result(count.units(), count.count()));
        }
        o.output = std::move(taker.output);
    } catch (const pieces::InvalidInput& e) {
        o.error = kInvalidArgument;
        o.offset = e.offset();
    } catch (const Error& e) {
        o.error = e.number();
    }
    return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInputBytes) return 0;
    const std::optional<Input> parsed = Parse(data, size);
    if (!parsed) return 0;
    const Input& in = *parsed;
    static const char* const kOperations[] = {"fold", "link", "count", "count -B"};
    const char* const operation = kOperations[static_cast<int>(in.operation)];

    if (!in.marked) {
        const Outcome whole = WholeCall(in);
        ForEachKernel([&](const char* kernel) {
            const std::optional<Outcome> got = CStreams(in, kernel);
            if (!got) {
                if (whole.error != kInvalidArgument) {
                    Fail("a stream refused an argument the whole call took",
                         {Show("argument", Bytes(in.argument).c_str())});
                }
                return;
            }
            if (!(*got == whole)) {
                Fail("the C interface's stream differs from the whole call",
                     {Show("operation", operation), Show("argument", Bytes(in.argument).c_str()),
                      Show("text", Bytes(in.text).c_str()),
                      Show("room", static_cast<long long>(in.room)), Show("kernel", kernel),
                      Show("stream", Describe(*got).c_str()),
                      Show("whole", Describe(whole).c_str())});
            }
        });
        return 0;
    }

    const std::optional<std::u16string> argument = Argument(in);
    if (!argument) return 0;  // the command refuses it before reading
    const Outcome whole = Routines(in, *argument);
    ForEachKernel([&](const char* kernel) {
        const Outcome got = Pieces(in, *argument, kernel);
        if (!(got == whole)) {
            Fail(
                "text/pieces/ differs from the routines on the whole text",
                {Show("operation", operation), Show("argument", Bytes(in.argument).c_str()),
                 Show("text", Bytes(in.text).c_str()),
                 Show("room", static_cast<long long>(in.room)), Show("kernel", kernel),
                 Show("pieces", Describe(got).c_str()), Show("routines", Describe(whole).c_str())});
        }
    });
    return 0;
}
