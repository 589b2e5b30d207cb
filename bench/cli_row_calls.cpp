// The C interface's _utf8 functions called once per short row, as a database
// extension or a Python loop calls them: names of two to four words, ASCII
// only or with accents, each call beside the least a call returning text
// can cost, malloc + memcpy of its result + free. Thread CPU time, the least
// of several repetitions; 64 names taken in turn, so that no single input is
// learnt by the branch predictor.
//   palavox_row_calls [CALLS]      (bench/cli-bench.sh)
#include <palavox/palavox.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace {

void Keep(const void* p) { asm volatile("" : : "g"(p) : "memory"); }

double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Names from lists of first names and surnames, the same on every run.
std::vector<std::string> Names(bool accents) {
    const char* const plain[] = {"Maria", "Pedro",  "Ana",   "Carlos", "Lucas", "Paulo",   "Rita",
                                 "Silva", "Santos", "Costa", "Lima",   "Souza", "Pereira", "Rocha"};
    const char* const accented[] = {"José",   "João",    "Antônio",   "Fátima",    "Inês",
                                    "Sérgio", "Lúcia",   "Conceição", "Gonçalves", "Araújo",
                                    "Simões", "Brandão", "Magalhães", "Estêvão"};
    const char* const* words = accents ? accented : plain;
    std::vector<std::string> names;
    unsigned seed = accents ? 7 : 3;
    for (unsigned k = 0; k < 64; ++k) {
        std::string name;
        const unsigned count = 2 + k % 3;
        for (unsigned w = 0; w < count; ++w) {
            seed = seed * 1103515245 + 12345;
            if (w > 0) name += w == 1 && k % 4 == 0 ? " da " : " ";
            name += words[(seed >> 16) % 14];
        }
        names.push_back(name);
    }
    return names;
}

// Nanoseconds a call, the least over the repetitions.
double PerCall(const std::vector<std::string>& names, std::size_t calls,
               const std::function<void(const std::string&)>& call) {
    double best = 1e30;
    for (int repetition = 0; repetition < 7; ++repetition) {
        const double start = ThreadSeconds();
        for (std::size_t i = 0; i < calls; ++i) call(names[i % names.size()]);
        best = std::min(best, (ThreadSeconds() - start) / static_cast<double>(calls) * 1e9);
    }
    return best;
}

void Check(int rc) {
    if (rc != 0) {
        std::fprintf(stderr, "palavox_row_calls: error %d\n", rc);
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t calls = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
    std::printf("%-34s %9s %9s %7s\n", "per call (ns, least of 7)", "palavox", "baseline", "ratio");
    for (const bool accents : {false, true}) {
        const std::vector<std::string> names = Names(accents);
        const char* const kind = accents ? "accented" : "ASCII";
        // The baseline of each function: malloc, memcpy and free of a result
        // as long as its own, the lengths found before timing.
        const auto baseline = [&](const std::vector<std::size_t>& lengths) {
            std::size_t k = 0;
            return PerCall(names, calls, [&](const std::string& name) {
                const std::size_t n = lengths[k++ % lengths.size()];
                char* copy = static_cast<char*>(std::malloc(n + 1));
                std::memcpy(copy, name.data(), std::min(n, name.size()));
                copy[n] = '\0';
                Keep(copy);
                std::free(copy);
            });
        };
        std::vector<std::size_t> folded, rows;
        for (const std::string& name : names) {
            char* out = nullptr;
            std::size_t n = 0;
            Check(palavox_remover_acentuacao_utf8(name.data(), name.size(), &out, &n));
            palavox_free(out);
            folded.push_back(n);
            rows.push_back(name.size());
        }
        const auto row = [&](const char* what, double ours, double theirs) {
            std::printf("%-34s %9.1f %9.1f %7.2f\n", (std::string(what) + ", " + kind).c_str(),
                        ours, theirs, ours / theirs);
        };

        const double fold = PerCall(names, calls, [](const std::string& name) {
            char* out = nullptr;
            std::size_t n = 0;
            Check(palavox_remover_acentuacao_utf8(name.data(), name.size(), &out, &n));
            Keep(out);
            palavox_free(out);
        });
        row("remover_acentuacao_utf8", fold, baseline(folded));

        const double link = PerCall(names, calls, [](const std::string& name) {
            char* out = nullptr;
            std::size_t n = 0;
            Check(palavox_trata_html_utf8(name.data(), name.size(), nullptr, 0, &out, &n));
            Keep(out);
            palavox_free(out);
        });
        row("trata_html_utf8", link, baseline(rows));

        // Counting returns no text: its baseline is the same copy of the row, as a unit of cost.
        const double count = PerCall(names, calls, [](const std::string& name) {
            std::int32_t found = 0;
            Check(palavox_find_string_utf8(name.data(), name.size(), "da", 2, nullptr, 0, &found));
            Keep(&found);
        });
        row("find_string_utf8 \"da\"", count, baseline(rows));
    }
    return 0;
}
