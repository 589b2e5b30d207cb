// Writes a benchmark input for the `palavox` command as UTF-8: the same
// deterministic prose and link texts the routine benchmarks use.
//   palavox_cli_input prose|links <megabytes> <file>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "inputs.hpp"
#include "utf8.hpp"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: palavox_cli_input prose|links <megabytes> <file>\n", stderr);
        return 2;
    }
    const std::string kind = argv[1];
    const std::size_t units = std::strtoull(argv[2], nullptr, 10) * 1000 * 1000;
    // Written a block at a time, so a 200 MB file never needs 200 MB of memory here.
    constexpr std::size_t kBlock = 1 << 20;
    std::FILE* out = std::fopen(argv[3], "wb");
    if (out == nullptr) return 1;
    std::string bytes;
    for (std::size_t done = 0, block = 0; done < units; done += kBlock, ++block) {
        const std::size_t n = std::min(kBlock, units - done);
        const palavox::Text text = kind == "links" ? palavox::bench::LinkText(n, n / 50, 7 + block)
                                                   : palavox::bench::Prose(n, true, 3 + block);
        bytes.resize(palavox::utf8::EncodedLength(text));
        palavox::utf8::Encode(text, bytes.data());
        if (std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) return 1;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
