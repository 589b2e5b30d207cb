// Every routine timed beside its baselines in the same run: for the routines
// that return text, allocating a result of the same size and copying into it
// (and memcpy into a buffer allocated once, a harder bar); for counting, a
// vectorized read pass; and the literal algorithms of the test model.
// Absolute times on shared machines are noise; the ratios at the end are the
// figures that count.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "baselines.hpp"
#include "inputs.hpp"
#include "short_texts.hpp"
#include "simd/kernel.hpp"
#include "palavox/mod_palavox.hpp"
#include "literal/literal_model.hpp"
#include "utf8/utf8.hpp"
#include "fold/utf8_fold.hpp"
#include "links/utf8_links.hpp"

namespace palavox::bench {
namespace {

namespace fast = palavox::ModPalavox;
namespace literal = palavox::literal;

constexpr std::size_t kKiB = 1024;
constexpr std::size_t kMiB = 1024 * kKiB;

struct Size {
    const char* name;
    std::size_t bytes;
    std::size_t units() const { return bytes / sizeof(char16_t); }
};

constexpr Size kSizes[] = {
    {"1KiB", kKiB}, {"64KiB", 64 * kKiB}, {"1MiB", kMiB}, {"64MiB", 64 * kMiB}};
constexpr Size kLargest = kSizes[std::size(kSizes) - 1];
// The literal algorithms make 70 passes, or one pass per link: beyond these they take minutes.
constexpr std::size_t kLiteralLimit = kMiB;
constexpr std::size_t kLiteralLinksLimit = 64 * kKiB;

constexpr std::size_t kUnitsPerLink = 50;
// For the figures the goals are stated in: the least of five is steady even on a busy machine.
constexpr int kRepetitions = 5;
// A common ASCII word, and one holding the non-ASCII letters Portuguese is full of.
constexpr std::u16string_view kSearch = u"para";
constexpr std::u16string_view kSearchNonAscii = u"A\u00C7\u00C3O";  // AÇÃO
// Under TextCompare s and k fold from three units each (the long s, the Kelvin
// sign): words holding them, as common as any.
constexpr std::u16string_view kSearchS = u"CASA";
constexpr std::u16string_view kSearchSS = u"isso";

struct Count {
    const char* name;
    std::u16string_view search;
    CompareMode mode;
};
constexpr Count kCounts[] = {
    {"B", kSearch, CompareMode::BinaryCompare},
    {"TextCompare", kSearch, CompareMode::TextCompare},
    {"B-nonascii", kSearchNonAscii, CompareMode::BinaryCompare},
    {"TextCompare-nonascii", kSearchNonAscii, CompareMode::TextCompare},
    {"TextCompare-s", kSearchS, CompareMode::TextCompare},
    {"TextCompare-ss", kSearchSS, CompareMode::TextCompare},
};

// Inputs are built once, before any timing, and shared by the routine and its baselines.
struct Inputs {
    std::map<std::string, Text> prose, plain, links, linksOutput;
    std::map<std::string, std::string> prose8, links8;
    Text hostile;
};

Inputs& Shared() {
    static Inputs inputs;
    return inputs;
}

// CPU seconds of the benchmark thread per iteration, the least over
// repetitions: on a shared machine other processes and noise only ever add time,
// and wall time would count the moments this process was not running at all.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        std::vector<Run> shown;
        for (const Run& run : runs) {
            if (run.error_occurred) {
                shown.push_back(run);
                continue;
            }
            if (run.run_type == Run::RT_Iteration) {
                const double seconds =
                    run.cpu_accumulated_time / static_cast<double>(run.iterations);
                auto [it, fresh] = seconds_.try_emplace(run.run_name.function_name, seconds);
                if (!fresh) it->second = std::min(it->second, seconds);
                if (run.repetitions <= 1) shown.push_back(run);
            } else if (run.aggregate_name == "min") {
                shown.push_back(run);
            }
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }

    // NaN when a benchmark was filtered out or failed, so a missing figure shows
    // as such. "read/..." is the faster of the SSE2 and AVX2 read passes.
    double Seconds(const std::string& name) const {
        if (name.starts_with("read/")) {
            const std::string size = name.substr(5);
            return std::fmin(Lookup("read-sse2/" + size), Lookup("read-avx2/" + size));
        }
        return Lookup(name);
    }

private:
    double Lookup(const std::string& name) const {
        const auto it = seconds_.find(name);
        return it == seconds_.end() ? std::numeric_limits<double>::quiet_NaN() : it->second;
    }

    std::map<std::string, double> seconds_;
};

void Register(const std::string& name, std::function<void()> body, int repetitions = 1) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) {
        for (auto _ : state) body();
    });
    b->Unit(benchmark::kMicrosecond);
    if (repetitions > 1) {
        b->Repetitions(repetitions)->ComputeStatistics("min", [](const std::vector<double>& v) {
            return *std::min_element(v.begin(), v.end());
        });
    }
}

// A single iteration: for the literal algorithm where one run takes seconds.
void RegisterOnce(const std::string& name, std::function<void()> body) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), [body](benchmark::State& state) {
        for (auto _ : state) body();
    });
    b->Unit(benchmark::kMillisecond)->Iterations(1);
}

void RegisterBaselines(const std::string& suffix, const Text& input, int repetitions) {
    // Copies into a buffer allocated once: the physical limit of a transform
    // that reads and writes every unit.
    auto target = std::make_shared<Text>(input.size(), u'\0');
    Register(
        "memcpy/" + suffix,
        [&input, target] {
            std::memcpy(target->data(), input.data(), input.size() * sizeof(char16_t));
            benchmark::ClobberMemory();
        },
        repetitions);
    // What the simplest routine returning text costs: a new result, a copy into it.
    Register(
        "alloc-copy/" + suffix, [&input] { benchmark::DoNotOptimize(Text(input)); }, repetitions);
    // The read pass is the faster of these two; see Seconds().
    Register(
        "read-sse2/" + suffix, [&input] { benchmark::DoNotOptimize(ReadPassSse2(input)); },
        repetitions);
    if (CpuHasAvx2()) {
        Register(
            "read-avx2/" + suffix, [&input] { benchmark::DoNotOptimize(ReadPassAvx2(input)); },
            repetitions);
    }
}

// Storage a caller provides, as the C interface and the COM object do: one
// malloc per call, no fill.
class MallocSink final : public TextSink {
public:
    MallocSink() = default;
    MallocSink(const MallocSink&) = delete;
    MallocSink& operator=(const MallocSink&) = delete;
    ~MallocSink() { std::free(units_); }

    char16_t* Allocate(std::size_t units) override {
        units_ = static_cast<char16_t*>(std::malloc(units * sizeof(char16_t) + 1));
        if (units_ == nullptr) throw std::bad_alloc();
        return units_;
    }

private:
    char16_t* units_ = nullptr;
};

std::string Utf8Of(const Text& text) {
    std::string bytes(utf8::EncodedLength(text), '\0');
    utf8::Encode(text, bytes.data());
    return bytes;
}

// The UTF-8 forms the C interface and the command run, each into a buffer
// allocated once, beside memcpy of the same UTF-8 bytes into one.
void RegisterUtf8(const std::string& s, const Text& prose, const std::string& prose8,
                  const std::string& links8, int repetitions) {
    auto units = std::make_shared<Text>(prose8.size(), u'\0');
    auto bytes = std::make_shared<std::string>(3 * prose.size(), '\0');
    auto marked = std::make_shared<std::string>(utf8::ConverteLinksSize(links8, ""), '\0');
    Register(
        "memcpy-utf8/" + s,
        [&prose8, bytes] {
            std::memcpy(bytes->data(), prose8.data(), prose8.size());
            benchmark::ClobberMemory();
        },
        repetitions);
    Register(
        "utf8-Validate/" + s, [&prose8] { benchmark::DoNotOptimize(utf8::Validate(prose8)); },
        repetitions);
    Register(
        "utf8-Decode/" + s,
        [&prose8, units] { benchmark::DoNotOptimize(utf8::Decode(prose8, units->data())); },
        repetitions);
    Register(
        "utf8-Encode/" + s,
        [&prose, bytes] {
            benchmark::DoNotOptimize(utf8::EncodedLength(prose));
            benchmark::DoNotOptimize(utf8::Encode(prose, bytes->data()));
        },
        repetitions);
    Register(
        "utf8-TrocaAcentos/" + s,
        [&prose8, bytes] { benchmark::DoNotOptimize(utf8::TrocaAcentos(prose8, bytes->data())); },
        repetitions);
    Register(
        "utf8-ConverteLinks/" + s,
        [&links8, marked] {
            benchmark::DoNotOptimize(utf8::ConverteLinksSize(links8, ""));
            benchmark::DoNotOptimize(utf8::ConverteLinks(links8, "", marked->data()));
        },
        repetitions);
}

void RegisterAll() {
    Inputs& in = Shared();
    RegisterShortTexts([](const std::string& name, std::function<void()> body) {
        Register(name, std::move(body), kRepetitions);
    });
    for (const Size& size : kSizes) {
        const std::string s = size.name;
        const int reps = size.bytes == kLargest.bytes ? kRepetitions : 1;
        const Text& prose = in.prose[s] = Prose(size.units(), true, 1);
        const Text& plain = in.plain[s] = Prose(size.units(), false, 1);
        const Text& links = in.links[s] = LinkText(size.units(), size.units() / kUnitsPerLink, 2);

        RegisterBaselines(s, prose, reps);
        Register(
            "TrocaAcentos/prose/" + s,
            [&prose] { benchmark::DoNotOptimize(fast::TrocaAcentos(prose)); }, reps);
        Register(
            "TrocaAcentos/plain/" + s,
            [&plain] { benchmark::DoNotOptimize(fast::TrocaAcentos(plain)); }, reps);
        for (const Count& c : kCounts) {
            Register(
                "ContaOcorrencias/" + std::string(c.name) + "/" + s,
                [&prose, c] {
                    benchmark::DoNotOptimize(fast::ContaOcorrencias(prose, c.search, c.mode));
                },
                reps);
        }
        Register(
            "ConverteLinks/dense/" + s,
            [&links] { benchmark::DoNotOptimize(fast::ConverteLinks(links, u"")); }, reps);
        // The result is longer than the input: its own copy is the baseline.
        const Text& output = in.linksOutput[s] = fast::ConverteLinks(links, u"");
        RegisterBaselines("links-output/" + s, output, reps);
        // Into storage the caller provides, as TrataHTML writes its BSTR.
        Register(
            "ConverteLinks/dense-sink/" + s,
            [&links] {
                MallocSink sink;
                fast::ConverteLinks(links, u"", sink);
            },
            reps);
        Register(
            "malloc-copy/links-output/" + s,
            [&output] {
                MallocSink sink;
                char16_t* const to = sink.Allocate(output.size());
                std::memcpy(to, output.data(), output.size() * sizeof(char16_t));
                benchmark::ClobberMemory();
            },
            reps);

        const std::string& prose8 = in.prose8[s] = Utf8Of(prose);
        const std::string& links8 = in.links8[s] = Utf8Of(links);
        RegisterUtf8(s, prose, prose8, links8, reps);

        if (size.bytes <= kLiteralLimit) {
            Register("literal/TrocaAcentos/prose/" + s,
                     [&prose] { benchmark::DoNotOptimize(literal::TrocaAcentos(prose)); });
            Register("literal/ContaOcorrencias/B/" + s, [&prose] {
                benchmark::DoNotOptimize(literal::ContaOcorrencias(prose, kSearch, u"B"));
            });
            Register("literal/ContaOcorrencias/TextCompare/" + s, [&prose] {
                benchmark::DoNotOptimize(literal::ContaOcorrencias(prose, kSearch, u""));
            });
        }
        if (size.bytes <= kLiteralLinksLimit) {
            Register("literal/ConverteLinks/dense/" + s,
                     [&links] { benchmark::DoNotOptimize(literal::ConverteLinks(links, u"")); });
        }
    }

    // Linear in the number of links: the same density at 200 and at 20,000 links.
    for (const std::size_t count : {std::size_t{200}, std::size_t{20000}}) {
        const std::string s = std::to_string(count);
        const Text& links = in.links["n" + s] = LinkText(count * kUnitsPerLink, count, 3);
        Register(
            "ConverteLinks/links:" + s,
            [&links] { benchmark::DoNotOptimize(fast::ConverteLinks(links, u"")); }, kRepetitions);
    }

    // The literal markup is quadratic: one search and one replace over the whole text per link.
    const Text& many = in.links["256KiB"] = LinkText(256 * kKiB / sizeof(char16_t), 5000, 4);
    Register(
        "ConverteLinks/256KiB-5000-links",
        [&many] { benchmark::DoNotOptimize(fast::ConverteLinks(many, u"")); }, kRepetitions);
    RegisterOnce("literal/ConverteLinks/256KiB-5000-links",
                 [&many] { benchmark::DoNotOptimize(literal::ConverteLinks(many, u"")); });

    // Hostile to a scan-and-verify search: every start is a candidate that
    // fails late. Must stay linear, as a read pass is.
    const Text& hostile = in.hostile = Text(kMiB / sizeof(char16_t), u'a');
    static const Text kTailB = Text(63, u'a') + u"b";
    static const Text kMiddleB = Text(32, u'a') + u"b" + Text(31, u'a');
    static const Text kMiddleBUpper = Text(32, u'A') + u"B" + Text(31, u'A');
    RegisterBaselines("hostile-1MiB", hostile, 3);
    Register(
        "ContaOcorrencias/hostile-a63b/B",
        [&hostile] {
            benchmark::DoNotOptimize(
                fast::ContaOcorrencias(hostile, kTailB, CompareMode::BinaryCompare));
        },
        3);
    Register(
        "ContaOcorrencias/hostile-a32ba31/B",
        [&hostile] {
            benchmark::DoNotOptimize(
                fast::ContaOcorrencias(hostile, kMiddleB, CompareMode::BinaryCompare));
        },
        3);
    Register(
        "ContaOcorrencias/hostile-A32BA31/TextCompare",
        [&hostile] {
            benchmark::DoNotOptimize(
                fast::ContaOcorrencias(hostile, kMiddleBUpper, CompareMode::TextCompare));
        },
        3);
    Register("literal/ContaOcorrencias/hostile-a32ba31/B", [&hostile] {
        benchmark::DoNotOptimize(literal::ContaOcorrencias(hostile, kMiddleB, u"B"));
    });
}

struct Goal {
    const char* what;
    std::string numerator, denominator;
    double scale;  // turns the ratio of times into the ratio the goal is stated in
    double bound;
    bool atMost;  // the ratio must not exceed `bound`, otherwise it must reach it
};

void PrintRatios(const RatioReporter& times) {
    const std::string big = kLargest.name;
    const double perUnit = 200.0 / 20000.0;  // the same density, a hundred times the units
    const Goal goals[] = {
        {"TrocaAcentos, prose / alloc-copy, 64 MiB", "TrocaAcentos/prose/" + big,
         "alloc-copy/" + big, 1, 2.0, true},
        {"TrocaAcentos, no accents / alloc-copy, 64 MiB", "TrocaAcentos/plain/" + big,
         "alloc-copy/" + big, 1, 2.0, true},
        {"TrocaAcentos, prose / memcpy, 64 MiB", "TrocaAcentos/prose/" + big, "memcpy/" + big, 1,
         2.0, true},
        {"TrocaAcentos, no accents / memcpy, 64 MiB", "TrocaAcentos/plain/" + big, "memcpy/" + big,
         1, 2.0, true},
        {"Conta \"B\" \"para\" / read pass, 64 MiB", "ContaOcorrencias/B/" + big, "read/" + big, 1,
         1.5, true},
        {"Conta \"B\" \"A\u00C7\u00C3O\" / read pass, 64 MiB", "ContaOcorrencias/B-nonascii/" + big,
         "read/" + big, 1, 1.5, true},
        {"Conta TextCompare \"para\" / read pass, 64 MiB", "ContaOcorrencias/TextCompare/" + big,
         "read/" + big, 1, 2.0, true},
        {"Conta TextCompare \"A\u00C7\u00C3O\" / read pass, 64 MiB",
         "ContaOcorrencias/TextCompare-nonascii/" + big, "read/" + big, 1, 2.0, true},
        {"Conta TextCompare \"CASA\" / read pass, 64 MiB", "ContaOcorrencias/TextCompare-s/" + big,
         "read/" + big, 1, 1.2, true},
        {"Conta TextCompare \"isso\" / read pass, 64 MiB", "ContaOcorrencias/TextCompare-ss/" + big,
         "read/" + big, 1, 1.2, true},
        {"ConverteLinks dense / alloc-copy of output, 64 MiB", "ConverteLinks/dense/" + big,
         "alloc-copy/links-output/" + big, 1, 2.0, true},
        {"ConverteLinks dense, malloc sink / malloc-copy, 64 MiB",
         "ConverteLinks/dense-sink/" + big, "malloc-copy/links-output/" + big, 1, 2.0, true},
        {"ConverteLinks dense / memcpy of output, 64 MiB", "ConverteLinks/dense/" + big,
         "memcpy/links-output/" + big, 1, 4.0, true},
        {"ConverteLinks per unit, 20,000 / 200 links", "ConverteLinks/links:20000",
         "ConverteLinks/links:200", perUnit, 1.5, true},
        {"literal / fast ConverteLinks, 256 KiB, 5,000 links",
         "literal/ConverteLinks/256KiB-5000-links", "ConverteLinks/256KiB-5000-links", 1, 250,
         false},
    };
    std::printf("\nRatios (same run; least CPU time over repetitions)\n");
    std::printf("%-56s %10s %8s  %s\n", "measure", "ratio", "goal", "");
    bool allMet = true;
    for (const Goal& g : goals) {
        const double ratio = times.Seconds(g.numerator) / times.Seconds(g.denominator) * g.scale;
        const bool met = g.atMost ? ratio <= g.bound : ratio >= g.bound;
        allMet = allMet && met;
        std::printf("%-56s %10.2f %2s%6.1f  %s\n", g.what, ratio, g.atMost ? "<=" : ">=", g.bound,
                    met ? "met" : "NOT MET");
    }

    std::printf(
        "\nShort texts, per call (%.0f names of 2-4 words, 10-40 units; comments, one in "
        "four with a link)\n",
        kShortRows);
    std::printf("%-56s %8s %8s %7s %8s\n", "measure", "ns", "base ns", "ratio", "goal");
    for (const ShortGoal& g : ShortTextGoals()) {
        const double a = times.Seconds(g.numerator), b = times.Seconds(g.denominator);
        const double ratio = a / b;
        // Padded by characters, not bytes: a label may hold UTF-8.
        const auto trail =
            std::count_if(g.what.begin(), g.what.end(), [](char c) { return (c & 0xC0) == 0x80; });
        std::printf("%-*s %8.1f %8.1f %7.2f", static_cast<int>(56 + trail), g.what.c_str(),
                    a / kShortRows * 1e9, b / kShortRows * 1e9, ratio);
        if (g.bound > 0) {
            const bool met = ratio <= g.bound;
            allMet = allMet && met;
            std::printf(" %2s%5.1f  %s", "<=", g.bound, met ? "met" : "NOT MET");
        }
        std::printf("\n");
    }

    std::printf("\nAt every size: routine / its baseline (lower is better)\n");
    std::printf("%-52s", "routine / baseline");
    for (const Size& size : kSizes) std::printf(" %9s", size.name);
    std::printf("\n");
    const std::pair<const char*, const char*> rows[] = {
        {"TrocaAcentos/prose", "alloc-copy"},
        {"TrocaAcentos/plain", "alloc-copy"},
        {"TrocaAcentos/prose", "memcpy"},
        {"ContaOcorrencias/B", "read"},
        {"ContaOcorrencias/B-nonascii", "read"},
        {"ContaOcorrencias/TextCompare", "read"},
        {"ContaOcorrencias/TextCompare-nonascii", "read"},
        {"ContaOcorrencias/TextCompare-s", "read"},
        {"ContaOcorrencias/TextCompare-ss", "read"},
        {"ConverteLinks/dense", "alloc-copy/links-output"},
        {"ConverteLinks/dense", "memcpy/links-output"},
        {"ConverteLinks/dense-sink", "malloc-copy/links-output"},
        // The UTF-8 forms (the text's UTF-8 bytes), beside memcpy of those bytes.
        {"utf8-Validate", "memcpy-utf8"},
        {"utf8-Decode", "memcpy-utf8"},
        {"utf8-Encode", "memcpy-utf8"},
        {"utf8-TrocaAcentos", "memcpy-utf8"},
        {"utf8-ConverteLinks", "memcpy-utf8"},
        // How the baselines stand to each other.
        {"read-sse2", "read"},
        {"memcpy", "read"},
        {"alloc-copy", "memcpy"},
    };
    for (const auto& [routine, baseline] : rows) {
        std::printf("%-52s", (std::string(routine) + " / " + baseline).c_str());
        for (const Size& size : kSizes) {
            std::printf(" %9.2f", times.Seconds(std::string(routine) + "/" + size.name) /
                                      times.Seconds(std::string(baseline) + "/" + size.name));
        }
        std::printf("\n");
    }

    std::printf(
        "\nHow many times faster than the literal algorithms (nan: not run at that size)\n");
    const std::pair<const char*, const char*> literalRows[] = {
        {"TrocaAcentos/prose", "TrocaAcentos/prose"},
        {"ContaOcorrencias/B", "ContaOcorrencias/B"},
        {"ContaOcorrencias/TextCompare", "ContaOcorrencias/TextCompare"},
        {"ConverteLinks/dense", "ConverteLinks/dense"},
    };
    for (const auto& [name, fastName] : literalRows) {
        std::printf("%-40s", name);
        for (const Size& size : kSizes) {
            std::printf(" %9.0f", times.Seconds(std::string("literal/") + name + "/" + size.name) /
                                      times.Seconds(std::string(fastName) + "/" + size.name));
        }
        std::printf("\n");
    }

    std::printf("\nHostile search, 1 MiB of \"a\": ContaOcorrencias / read pass\n");
    for (const char* name :
         {"ContaOcorrencias/hostile-a63b/B", "ContaOcorrencias/hostile-a32ba31/B",
          "ContaOcorrencias/hostile-A32BA31/TextCompare",
          "literal/ContaOcorrencias/hostile-a32ba31/B"}) {
        std::printf("%-52s %10.2f\n", name,
                    times.Seconds(name) / times.Seconds("read/hostile-1MiB"));
    }
    std::printf("\n%s\n", allMet ? "Every goal met." : "Some goals NOT met (see above).");
}

}  // namespace
}  // namespace palavox::bench

int main(int argc, char** argv) {
#if defined(__GLIBC__)
    // Keep freed blocks in the process, as a long-running server's heap does,
    // so that results reuse warm pages: otherwise every 64 MiB result would be
    // a fresh mapping and the figure would be the kernel zeroing pages.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
#endif
    // --kernel=scalar|sse2|avx2 holds the routines to a lesser kernel than
    // the best, to measure it; the library itself reads no setting.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!arg.starts_with("--kernel=")) continue;
        bool held = false;
        for (const auto kernel : {palavox::detail::Kernel::Scalar, palavox::detail::Kernel::Sse2,
                                  palavox::detail::Kernel::Avx2}) {
            if (arg.substr(9) == palavox::detail::KernelName(kernel)) {
                held = palavox::detail::UseKernel(kernel);
            }
        }
        if (!held) {
            std::fprintf(stderr, "no such kernel here: %s\n", argv[i]);
            return 1;
        }
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        --i;
    }
    std::printf("kernel: %s\n", palavox::detail::KernelName(palavox::detail::ActiveKernel()));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    palavox::bench::RegisterAll();
    palavox::bench::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    palavox::bench::PrintRatios(reporter);
    benchmark::Shutdown();
    return 0;
}
