// Short texts per call, as a user calls the library on a name or a row: the C
// interface (libpalavox.so, as a program links it) and the routines beneath
// it, beside what a user would write instead in the same C++ file, compiled
// with the same flags: a 256-entry table into the caller's storage; malloc +
// memcpy + free of the result; a plain loop lowering Latin-1 letters and
// comparing; a scan for "http" and a copy. 1,024 rows a set, taken in turn,
// so that no single row is learnt by the branch predictor.
#include "short_texts.hpp"

#include "short_floor.hpp"

#include <palavox/palavox.h>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "fold/utf8_fold.hpp"
#include "inputs.hpp"
#include "palavox/mod_palavox.hpp"
#include "utf8/utf8.hpp"

namespace palavox::bench {
namespace {

namespace fast = palavox::ModPalavox;

const std::uint16_t* Units(const Text& t) {
    return reinterpret_cast<const std::uint16_t*>(t.data());
}

std::string Utf8Of(const Text& text) {
    std::string bytes(utf8::EncodedLength(text), '\0');
    utf8::Encode(text, bytes.data());
    return bytes;
}

// ---- What a user writes by hand

// The fold as a table of the first 256 units, from the routine's own answers.
const std::array<char16_t, 256>& FoldTable() {
    static const std::array<char16_t, 256> table = [] {
        std::array<char16_t, 256> t{};
        Text all(256, u'\0');
        for (unsigned u = 0; u < 256; ++u) all[u] = static_cast<char16_t>(u);
        const Text folded = fast::TrocaAcentos(all);
        for (unsigned u = 0; u < 256; ++u) t[u] = folded[u];
        return t;
    }();
    return table;
}

void TableFold(const char16_t* in, std::size_t n, char16_t* out) {
    const auto& table = FoldTable();
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i] < 256 ? table[in[i]] : in[i];
}

// The same fold by hand on UTF-8, into a result it allocates: an ASCII byte
// and a two-byte sequence for U+0080..U+00FF looked up in the table, which
// replaces the sequence where it gives ASCII; every other byte copied, and
// nothing checked.
char* FoldUtf8ByHand(const char* text, std::size_t n) {
    const auto& table = FoldTable();
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    auto* out = static_cast<char*>(std::malloc(n + 1));
    std::size_t o = 0;
    for (std::size_t i = 0; i < n;) {
        const unsigned b = t[i];
        if (b < 0x80) {
            out[o++] = static_cast<char>(table[b]);
            ++i;
            continue;
        }
        if ((b == 0xC2 || b == 0xC3) && i + 1 < n) {
            const char16_t folded = table[(b & 0x1F) << 6 | (t[i + 1] & 0x3F)];
            if (folded < 0x80) {
                out[o++] = static_cast<char>(folded);
                i += 2;
                continue;
            }
        }
        out[o++] = static_cast<char>(b);
        ++i;
    }
    out[o] = '\0';
    return out;
}

// Latin-1 letters lowered: A-Z and U+00C0..U+00DE but U+00D7.
inline char16_t LowerLatin1(char16_t u) {
    const bool upper = (u >= u'A' && u <= u'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7);
    return static_cast<char16_t>(upper ? u + 0x20 : u);
}

// Non-overlapping matches of `lowered` (already lowered) in `text`, lowered as compared.
int CountLowered(const char16_t* t, std::size_t n, std::u16string_view lowered) {
    const std::size_t m = lowered.size();
    int count = 0;
    for (std::size_t i = 0; i + m <= n;) {
        std::size_t j = 0;
        while (j < m && LowerLatin1(t[i + j]) == lowered[j]) ++j;
        if (j == m) {
            ++count;
            i += m;
        } else {
            ++i;
        }
    }
    return count;
}

// The same on UTF-8: ASCII letters lowered, and the second byte of a C3 sequence
// (U+00C0..U+00FF) lowered where it stands for a capital.
int CountLowered8(const char* text, std::size_t n, std::string_view lowered) {
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    const std::size_t m = lowered.size();
    const auto lower = [&](std::size_t i) -> unsigned char {
        const unsigned char b = t[i];
        if (b >= 'A' && b <= 'Z') return static_cast<unsigned char>(b + 0x20);
        if (b >= 0x80 && b <= 0x9E && b != 0x97 && i > 0 && t[i - 1] == 0xC3) {
            return static_cast<unsigned char>(b + 0x20);
        }
        return b;
    };
    int count = 0;
    for (std::size_t i = 0; i + m <= n;) {
        std::size_t j = 0;
        while (j < m && lower(i + j) == static_cast<unsigned char>(lowered[j])) ++j;
        if (j == m) {
            ++count;
            i += m;
        } else {
            ++i;
        }
    }
    return count;
}

// Inlined wherever it is used, so that each baseline's loop is the same
// whatever else this file measures.
template <class Unit>
[[gnu::always_inline]] inline bool HasHttp(const Unit* t, std::size_t n) {
    for (std::size_t i = 0; i + 4 <= n; ++i) {
        if ((t[i] | 0x20) == 'h' && (t[i + 1] | 0x20) == 't' && (t[i + 2] | 0x20) == 't' &&
            (t[i + 3] | 0x20) == 'p') {
            return true;
        }
    }
    return false;
}

template <class Unit>
void MallocCopyFree(const Unit* from, std::size_t n) {
    auto* p = static_cast<Unit*>(std::malloc((n + 1) * sizeof(Unit)));
    std::memcpy(p, from, n * sizeof(Unit));
    p[n] = 0;
    benchmark::DoNotOptimize(p);
    std::free(p);
}

// ---- The rows

struct Sets {
    std::vector<Text> names, comments, marked;  // marked: the comments' markup
    std::vector<std::string> names8, comments8, marked8;
};

Sets& Shared() {
    static Sets sets;
    return sets;
}

[[noreturn]] void Differ(const char* what, std::size_t row) {
    std::fprintf(stderr, "short texts: %s differs from its baseline at row %zu\n", what, row);
    std::exit(1);
}

constexpr std::u16string_view kSilva = u"silva";
constexpr std::u16string_view kAcao = u"a\u00E7\u00E3o";  // ação

void CheckBaselines(const Sets& s, const std::string& acao8) {
    char16_t out[128];
    for (std::size_t r = 0; r < s.names.size(); ++r) {
        const Text& t = s.names[r];
        TableFold(t.data(), t.size(), out);
        if (fast::TrocaAcentos(t) != std::u16string_view(out, t.size())) Differ("fold", r);
        for (const std::u16string_view search : {kSilva, kAcao}) {
            int32_t n = -1;
            palavox_find_string(Units(t), t.size(),
                                reinterpret_cast<const std::uint16_t*>(search.data()),
                                search.size(), nullptr, 0, &n);
            if (n != CountLowered(t.data(), t.size(), search)) Differ("count", r);
        }
        int32_t n8 = -1;
        palavox_find_string_utf8(s.names8[r].data(), s.names8[r].size(), acao8.data(), acao8.size(),
                                 nullptr, 0, &n8);
        if (n8 != CountLowered8(s.names8[r].data(), s.names8[r].size(), acao8)) {
            Differ("count (UTF-8)", r);
        }
        if (HasHttp(t.data(), t.size())) Differ("a name with a link", r);
        char* byHand = FoldUtf8ByHand(s.names8[r].data(), s.names8[r].size());
        char* folded = nullptr;
        std::size_t length = 0;
        palavox_remover_acentuacao_utf8(s.names8[r].data(), s.names8[r].size(), &folded, &length);
        const bool same = std::string_view(byHand) == std::string_view(folded, length);
        std::free(byHand);
        palavox_free(folded);
        if (!same) Differ("fold (UTF-8)", r);
    }
}

}  // namespace

void RegisterShortTexts(const std::function<void(const std::string&, std::function<void()>)>& add) {
    Sets& s = Shared();
    s.names = Names(static_cast<std::size_t>(kShortRows), 11);
    s.comments = Comments(static_cast<std::size_t>(kShortRows), 12);
    for (const Text& t : s.names) s.names8.push_back(Utf8Of(t));
    for (const Text& t : s.comments) {
        s.comments8.push_back(Utf8Of(t));
        s.marked.push_back(fast::ConverteLinks(t, u""));
        s.marked8.push_back(Utf8Of(s.marked.back()));
    }
    static const std::string acao8 = Utf8Of(Text(kAcao));
    static const std::string silva8 = Utf8Of(Text(kSilva));
    CheckBaselines(s, acao8);

    // Fold into the caller's storage.
    add("short/fold-into/capi", [&s] {
        char16_t out[64];
        for (const Text& t : s.names) {
            palavox_remover_acentuacao_into(Units(t), t.size(),
                                            reinterpret_cast<std::uint16_t*>(out));
            benchmark::DoNotOptimize(out);
        }
    });
    add("short/fold-into/floor", [&s] {
        char16_t out[64];
        for (const Text& t : s.names) {
            palavox_floor_into(Units(t), t.size(), reinterpret_cast<std::uint16_t*>(out));
            benchmark::DoNotOptimize(out);
        }
    });
    add("short/fold-into/table", [&s] {
        char16_t out[64];
        for (const Text& t : s.names) {
            TableFold(t.data(), t.size(), out);
            benchmark::DoNotOptimize(out);
        }
    });

    // Folds that allocate their result, UTF-16 and UTF-8.
    add("short/fold/capi", [&s] {
        for (const Text& t : s.names) {
            std::uint16_t* r = nullptr;
            std::size_t n = 0;
            palavox_remover_acentuacao(Units(t), t.size(), &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/fold/malloc-copy", [&s] {
        for (const Text& t : s.names) MallocCopyFree(t.data(), t.size());
    });
    add("short/fold/by-hand", [&s] {
        for (const Text& t : s.names) {
            auto* r = static_cast<char16_t*>(std::malloc((t.size() + 1) * sizeof(char16_t)));
            TableFold(t.data(), t.size(), r);
            r[t.size()] = u'\0';
            benchmark::DoNotOptimize(r);
            std::free(r);
        }
    });
    add("short/fold/floor", [&s] {
        for (const Text& t : s.names) {
            std::uint16_t* r = nullptr;
            std::size_t n = 0;
            palavox_floor_copy(Units(t), t.size(), &r, &n);
            benchmark::DoNotOptimize(r);
            std::free(r);
        }
    });
    add("short/fold-utf8/capi", [&s] {
        for (const std::string& t : s.names8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_remover_acentuacao_utf8(t.data(), t.size(), &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/fold-utf8/malloc-copy", [&s] {
        for (const std::string& t : s.names8) MallocCopyFree(t.data(), t.size());
    });
    add("short/fold-utf8/by-hand", [&s] {
        for (const std::string& t : s.names8) {
            char* r = FoldUtf8ByHand(t.data(), t.size());
            benchmark::DoNotOptimize(r);
            std::free(r);
        }
    });
    add("short/fold-utf8/floor", [&s] {
        for (const std::string& t : s.names8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_floor_copy_utf8(t.data(), t.size(), &r, &n);
            benchmark::DoNotOptimize(r);
            std::free(r);
        }
    });

    // Case-insensitive counting: an ASCII search text and one beyond it.
    for (const auto& [name, search, search8] :
         {std::tuple{"silva", kSilva, &silva8}, std::tuple{"acao", kAcao, &acao8}}) {
        const std::string n = name;
        add("short/count-" + n + "/capi", [&s, search] {
            for (const Text& t : s.names) {
                int32_t r = 0;
                palavox_find_string(Units(t), t.size(),
                                    reinterpret_cast<const std::uint16_t*>(search.data()),
                                    search.size(), nullptr, 0, &r);
                benchmark::DoNotOptimize(r);
            }
        });
        add("short/count-" + n + "/core", [&s, search] {
            for (const Text& t : s.names) {
                benchmark::DoNotOptimize(
                    fast::ContaOcorrencias(t, search, CompareMode::TextCompare));
            }
        });
        add("short/count-" + n + "/loop", [&s, search] {
            for (const Text& t : s.names)
                benchmark::DoNotOptimize(CountLowered(t.data(), t.size(), search));
        });
        add("short/count-" + n + "/empty-call", [&s, search] {
            for (const Text& t : s.names) {
                int32_t r = 0;
                palavox_floor_count(Units(t), t.size(),
                                    reinterpret_cast<const std::uint16_t*>(search.data()),
                                    search.size(), nullptr, 0, &r);
                benchmark::DoNotOptimize(r);
            }
        });
        add("short/count-utf8-" + n + "/capi", [&s, search8] {
            for (const std::string& t : s.names8) {
                int32_t r = 0;
                palavox_find_string_utf8(t.data(), t.size(), search8->data(), search8->size(),
                                         nullptr, 0, &r);
                benchmark::DoNotOptimize(r);
            }
        });
        add("short/count-utf8-" + n + "/loop", [&s, search8] {
            for (const std::string& t : s.names8) {
                benchmark::DoNotOptimize(CountLowered8(t.data(), t.size(), *search8));
            }
        });
    }

    // Link markup of names, which hold no link, into the caller's storage.
    add("short/links-into/capi", [&s] {
        char16_t out[64];
        for (const Text& t : s.names) {
            std::size_t n = 0;
            palavox_trata_html_into(Units(t), t.size(), nullptr, 0,
                                    reinterpret_cast<std::uint16_t*>(out), 64, &n);
            benchmark::DoNotOptimize(out);
        }
    });
    add("short/links-into/scan-copy", [&s] {
        char16_t out[64];
        for (const Text& t : s.names) {
            benchmark::DoNotOptimize(HasHttp(t.data(), t.size()));
            std::memcpy(out, t.data(), t.size() * sizeof(char16_t));
            benchmark::DoNotOptimize(out);
        }
    });
    add("short/links-utf8-names/capi", [&s] {
        for (const std::string& t : s.names8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_trata_html_utf8(t.data(), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/links-utf8-names/scan-malloc-copy", [&s] {
        for (const std::string& t : s.names8) {
            benchmark::DoNotOptimize(HasHttp(t.data(), t.size()));
            MallocCopyFree(t.data(), t.size());
        }
    });

    // Their floor: the call alone, and the call copying the text into a result.
    add("short/links-utf8-names/floor-call", [&s] {
        for (const std::string& t : s.names8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_floor_markup_call_utf8(t.data(), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/links-utf8-names/floor-copy", [&s] {
        for (const std::string& t : s.names8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_floor_markup_copy_utf8(t.data(), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });

    // Link markup of comments, one in four with a link, beside a copy of the result.
    add("short/links-comments/capi", [&s] {
        for (const Text& t : s.comments) {
            std::uint16_t* r = nullptr;
            std::size_t n = 0;
            palavox_trata_html(Units(t), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/links-comments/malloc-copy", [&s] {
        for (const Text& t : s.marked) MallocCopyFree(t.data(), t.size());
    });
    add("short/links-utf8-comments/capi", [&s] {
        for (const std::string& t : s.comments8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_trata_html_utf8(t.data(), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/links-utf8-comments/malloc-copy", [&s] {
        for (const std::string& t : s.marked8) MallocCopyFree(t.data(), t.size());
    });
    // What a markup by hand costs at least: the comment scanned for "http" as
    // the names are, and its finished result copied.
    add("short/links-comments/scan-malloc-copy", [&s] {
        for (std::size_t r = 0; r < s.comments.size(); ++r) {
            benchmark::DoNotOptimize(HasHttp(s.comments[r].data(), s.comments[r].size()));
            MallocCopyFree(s.marked[r].data(), s.marked[r].size());
        }
    });
    add("short/links-utf8-comments/scan-malloc-copy", [&s] {
        for (std::size_t r = 0; r < s.comments8.size(); ++r) {
            benchmark::DoNotOptimize(HasHttp(s.comments8[r].data(), s.comments8[r].size()));
            MallocCopyFree(s.marked8[r].data(), s.marked8[r].size());
        }
    });
    // Their floor: a call that copies the finished result, given to it.
    add("short/links-comments/floor-copy", [&s] {
        for (const Text& t : s.marked) {
            std::uint16_t* r = nullptr;
            std::size_t n = 0;
            palavox_floor_markup_copy(Units(t), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
    add("short/links-utf8-comments/floor-copy", [&s] {
        for (const std::string& t : s.marked8) {
            char* r = nullptr;
            std::size_t n = 0;
            palavox_floor_markup_copy_utf8(t.data(), t.size(), nullptr, 0, &r, &n);
            benchmark::DoNotOptimize(r);
            palavox_free(r);
        }
    });
}

std::vector<ShortGoal> ShortTextGoals() {
    return {
        {"fold into caller storage / table loop", "short/fold-into/capi", "short/fold-into/table",
         1.0},
        {"  floor: an empty call / table loop", "short/fold-into/floor", "short/fold-into/table",
         0},
        {"fold, allocating / malloc+memcpy+free", "short/fold/capi", "short/fold/malloc-copy", 1.3},
        {"  floor: a call that copies / malloc+memcpy+free", "short/fold/floor",
         "short/fold/malloc-copy", 0},
        {"  malloc + the table loop + free / malloc+memcpy+free", "short/fold/by-hand",
         "short/fold/malloc-copy", 0},
        {"fold UTF-8, allocating / malloc+memcpy+free", "short/fold-utf8/capi",
         "short/fold-utf8/malloc-copy", 1.3},
        {"  floor: a call that copies / malloc+memcpy+free", "short/fold-utf8/floor",
         "short/fold-utf8/malloc-copy", 0},
        {"  a fold by hand, unchecked / malloc+memcpy+free", "short/fold-utf8/by-hand",
         "short/fold-utf8/malloc-copy", 0},
        {"count \"silva\" / lowering loop", "short/count-silva/capi", "short/count-silva/loop",
         1.0},
        {"count \"a\u00E7\u00E3o\" / lowering loop", "short/count-acao/capi",
         "short/count-acao/loop", 1.0},
        {"count \"silva\" UTF-8 / lowering loop", "short/count-utf8-silva/capi",
         "short/count-utf8-silva/loop", 1.0},
        {"count \"a\u00E7\u00E3o\" UTF-8 / lowering loop", "short/count-utf8-acao/capi",
         "short/count-utf8-acao/loop", 1.0},
        {"  routine alone: count \"silva\" / lowering loop", "short/count-silva/core",
         "short/count-silva/loop", 0},
        {"  an empty call as palavox_find_string's / lowering loop \"silva\"",
         "short/count-silva/empty-call", "short/count-silva/loop", 0},
        {"  routine alone: count \"a\u00E7\u00E3o\" / lowering loop", "short/count-acao/core",
         "short/count-acao/loop", 0},
        {"markup, no link, into storage / scan+copy", "short/links-into/capi",
         "short/links-into/scan-copy", 1.2},
        {"markup UTF-8, no link / scan+malloc+memcpy+free", "short/links-utf8-names/capi",
         "short/links-utf8-names/scan-malloc-copy", 1.2},
        {"  floor: a call that copies / the same", "short/links-utf8-names/floor-copy",
         "short/links-utf8-names/scan-malloc-copy", 0},
        {"  floor: a call that does nothing / the same", "short/links-utf8-names/floor-call",
         "short/links-utf8-names/scan-malloc-copy", 0},
        {"markup, comments 1 in 4 linked / malloc+memcpy+free", "short/links-comments/capi",
         "short/links-comments/malloc-copy", 1.5},
        {"markup UTF-8, comments / malloc+memcpy+free", "short/links-utf8-comments/capi",
         "short/links-utf8-comments/malloc-copy", 1.5},
        {"  floor: a call that copies the result / the same", "short/links-comments/floor-copy",
         "short/links-comments/malloc-copy", 0},
        {"  floor, UTF-8: a call that copies the result / the same",
         "short/links-utf8-comments/floor-copy", "short/links-utf8-comments/malloc-copy", 0},
        {"  by hand, at least: scan+malloc+memcpy+free / the same",
         "short/links-comments/scan-malloc-copy", "short/links-comments/malloc-copy", 0},
        {"  the same, UTF-8", "short/links-utf8-comments/scan-malloc-copy",
         "short/links-utf8-comments/malloc-copy", 0},
    };
}

}  // namespace palavox::bench
