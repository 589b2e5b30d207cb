// Writes a benchmark input for the `palavox` command as UTF-8: the same
// deterministic prose and link texts the routine benchmarks use.
//   palavox_cli_input prose|links|prose-links <megabytes> <file>
// prose-links: the prose with a link after every 60th word, the text the
// pipe goals are stated on; its size is that of the file, not of the text.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inputs.hpp"
#include "utf8/utf8.hpp"

namespace {

// A link after every 60th word: about one in 400 units, each 30 to 50 long.
palavox::Text WithLinks(const palavox::Text& prose, std::size_t block) {
    static constexpr std::u16string_view kHosts[] = {u"www.exemplo.com.br", u"portal.gov.br",
                                                     u"noticias.net"};
    palavox::Text out;
    out.reserve(prose.size() + prose.size() / 8);
    std::size_t words = 0, links = block;
    for (const char16_t unit : prose) {
        out += unit;
        if (unit != u' ' || ++words % 60 != 0) continue;
        out += links % 5 == 0 ? u"HTTPS://" : u"http://";
        out += kHosts[links % std::size(kHosts)];
        out += u"/artigo/";
        out += palavox::Text(u"0123456789").substr(0, 1 + links % 10);
        out += links % 3 == 0 ? u"?p=1 " : u" ";
        ++links;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: palavox_cli_input prose|links|prose-links <megabytes> <file>\n", stderr);
        return 2;
    }
    const std::string kind = argv[1];
    const std::size_t megabytes = std::strtoull(argv[2], nullptr, 10) * 1000 * 1000;
    const bool bySize = kind == "prose-links";
    const std::size_t units = bySize ? static_cast<std::size_t>(-1) / 2 : megabytes;
    // Written a block at a time, so a 200 MB file never needs 200 MB of memory here.
    constexpr std::size_t kBlock = 1 << 20;
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) return 1;
    std::string bytes;
    std::size_t written = 0;
    for (std::size_t done = 0, block = 0; done < units && written < megabytes;
         done += kBlock, ++block) {
        const std::size_t n = std::min(kBlock, units - done);
        const palavox::Text text = kind == "links" ? palavox::bench::LinkText(n, n / 50, 7 + block)
                                   : kind == "prose-links"
                                       ? WithLinks(palavox::bench::Prose(n, true, 3 + block), block)
                                       : palavox::bench::Prose(n, true, 3 + block);
        bytes.resize(palavox::utf8::EncodedLength(text));
        palavox::utf8::Encode(text, bytes.data());
        if (bySize && written + bytes.size() > megabytes) {
            std::size_t keep = megabytes - written;
            while (keep > 0 && (static_cast<unsigned char>(bytes[keep]) & 0xC0) == 0x80) --keep;
            bytes.resize(keep);
        }
        written += bytes.size();
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
