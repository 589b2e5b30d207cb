// One call of the C interface on a whole file, result to stdout: what the
// streaming command must equal, and what holding everything at once costs.
//   palavox_whole remover-acentuacao|trata-html|find-string [PROCURA] <file>
#include <palavox/palavox.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fputs("usage: palavox_whole COMMAND [PROCURA] FILE\n", stderr);
        return 2;
    }
    const std::string command = argv[1];
    std::ifstream in(argv[argc - 1], std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    char* result = nullptr;
    std::size_t length = 0;
    int rc;
    if (command == "find-string" && argc == 4) {
        std::int32_t count = 0;
        const std::string procura = argv[2];
        rc = palavox_find_string_utf8(text.data(), text.size(), procura.data(), procura.size(),
                                      nullptr, 0, &count);
        if (rc == 0) std::printf("%d\n", count);
    } else if (command == "trata-html") {
        rc = palavox_trata_html_utf8(text.data(), text.size(), nullptr, 0, &result, &length);
    } else {
        rc = palavox_remover_acentuacao_utf8(text.data(), text.size(), &result, &length);
    }
    if (rc != 0) {
        std::fprintf(stderr, "palavox_whole: error %d: %s\n", rc, palavox_error_description(rc));
        return 1;
    }
    if (result != nullptr) std::fwrite(result, 1, length, stdout);
    palavox_free(result);
    return 0;
}
