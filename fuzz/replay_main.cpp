// Stands in for libFuzzer where its runtime is missing (gcc, for one): runs
// every input named on the command line, folders meaning every file in them.
// Flags meant for libFuzzer (-runs=0 and the like) are ignored.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.starts_with("-")) continue;
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg)) {
                if (entry.is_regular_file()) inputs.push_back(entry.path());
            }
        } else if (fs::is_regular_file(arg)) {
            inputs.emplace_back(arg);
        } else {
            std::fprintf(stderr, "replay: no such file or folder: %s\n", arg.c_str());
            return 2;
        }
    }
    // Same order every time, so a failure is easy to reproduce.
    std::sort(inputs.begin(), inputs.end());
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                      std::istreambuf_iterator<char>()};
        std::fprintf(stderr, "replay: %s\n", path.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("replay: %zu inputs, no mismatch\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
