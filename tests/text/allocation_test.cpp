// Each call allocates at most its result: the global allocation functions of
// this executable count every call, and each case counts around one call.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "palavox/mod_palavox.hpp"
#include "palavox/text.hpp"
#include "primitives/primitives.hpp"

namespace {

long gAllocations = 0;

void* Allocate(std::size_t size) {
    ++gAllocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateAligned(std::size_t size, std::align_val_t align) {
    ++gAllocations;
    const auto alignment = static_cast<std::size_t>(align);
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
}

// Out of line, so the compiler does not pair a free() it can see with a new it cannot.
[[gnu::noinline]] void Release(void* p) noexcept { std::free(p); }

void* OrThrow(void* p) {
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

}  // namespace

void* operator new(std::size_t size) { return OrThrow(Allocate(size)); }
void* operator new[](std::size_t size) { return OrThrow(Allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new(std::size_t size, std::align_val_t align) {
    return OrThrow(AllocateAligned(size, align));
}
void* operator new[](std::size_t size, std::align_val_t align) {
    return OrThrow(AllocateAligned(size, align));
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { Release(p); }

namespace palavox {
namespace {

namespace Mod = ModPalavox;

// Allocations made by `call`; its result is still alive when they are read.
template <class Call>
long AllocationsOf(Call call) {
    const long before = gAllocations;
    [[maybe_unused]] const auto result = call();  // alive until counted
    return gAllocations - before;
}

// A short text lives inside the string object itself; a longer one needs its one block.
long BlocksFor(const Text& result) { return result.capacity() > Text().capacity() ? 1 : 0; }

Text Repeat(std::u16string_view piece, std::size_t times) {
    Text out;
    for (std::size_t i = 0; i < times; ++i) out += piece;
    return out;
}

const Text kProse =
    Repeat(u"A\u00E7\u00E3o & Rea\u00E7\u00E3o (S\u00E3o Paulo): casa CASA Casa. ", 4000);
const Text kLinks = Repeat(u"veja http://exemplo.com.br/a?b=1 e HTTP://x.y|z\r\n", 3000);
const Text kAs = Text(100000, u'a');
const Text kLongSearch = Text(5000, u'a') + u"b" + Text(4999, u'a');
const Text kLongText = Repeat(u"abcdefghij", 20000);
const Text kOneLongLink = u"http://" + kLongText;
const Text kSurrogates = Repeat(u"\U00010400x", 500);
const Text kLongTarget = Text(3000, u't');

struct ByName {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& row) const {
        return row.param.name;
    }
};

constexpr auto kAll = ReplaceLimit::All;
constexpr auto kBinary = CompareMode::BinaryCompare;
constexpr auto kText = CompareMode::TextCompare;

struct TextCase {
    const char* name;
    std::function<Text()> call;
    friend void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }
};

class ResultOnly : public ::testing::TestWithParam<TextCase> {};

TEST_P(ResultOnly, AllocatesNothingButItsResult) {
    const TextCase& c = GetParam();
    const Text result = c.call();
    EXPECT_EQ(AllocationsOf(c.call), BlocksFor(result)) << "result length " << result.size();
}

INSTANTIATE_TEST_SUITE_P(
    Routines, ResultOnly,
    ::testing::Values(
        TextCase{"TrocaAcentosShort", [] { return Mod::TrocaAcentos(u"p\u00E3o"); }},
        TextCase{"TrocaAcentosProse", [] { return Mod::TrocaAcentos(kProse); }},
        TextCase{"TrocaAcentosUnchanged", [] { return Mod::TrocaAcentos(kAs); }},
        TextCase{"ConverteLinksNoLink", [] { return Mod::ConverteLinks(kProse, u""); }},
        TextCase{"ConverteLinksOneLink",
                 [] { return Mod::ConverteLinks(u"ver http://a/b fim", u""); }},
        TextCase{"ConverteLinksDense", [] { return Mod::ConverteLinks(kLinks, u"_blank"); }},
        TextCase{"ConverteLinksLongTarget", [] { return Mod::ConverteLinks(kLinks, kLongTarget); }},
        TextCase{"ConverteLinksOneLongLink", [] { return Mod::ConverteLinks(kOneLongLink, u""); }}),
    ByName());

INSTANTIATE_TEST_SUITE_P(
    Primitives, ResultOnly,
    ::testing::Values(
        TextCase{"ReplaceNoMatch", [] { return Replace(kProse, u"xyz", u"", kAll, kBinary); }},
        TextCase{"ReplaceShrinks", [] { return Replace(kProse, u"casa", u"c", kAll, kText); }},
        TextCase{"ReplaceGrows", [] { return Replace(kProse, u"casa", u"<casa>", kAll, kText); }},
        TextCase{"ReplaceFirstGrows",
                 [] { return Replace(kProse, u"&", u"e mais", ReplaceLimit::FirstOnly, kBinary); }},
        TextCase{"ReplaceLongSearch", [] { return Replace(kAs, kLongSearch, u"x", kAll, kText); }},
        TextCase{"Substring", [] { return Substring(kProse, 10, 5000); }},
        TextCase{"Concatenate", [] { return Concatenate(kProse, kLinks); }},
        TextCase{"Decimal", [] { return Decimal(-2147483647 - 1); }}),
    ByName());

struct CountCase {
    const char* name;
    std::function<std::int64_t()> call;
    friend void PrintTo(const CountCase& c, std::ostream* os) { *os << c.name; }
};

class NoAllocation : public ::testing::TestWithParam<CountCase> {};

TEST_P(NoAllocation, AllocatesNothing) { EXPECT_EQ(AllocationsOf(GetParam().call), 0); }

// Long search texts and the inputs that push the search onto its fallback included:
// neither keeps a table on the heap.
INSTANTIATE_TEST_SUITE_P(
    Searches, NoAllocation,
    ::testing::Values(
        CountCase{"ContaBinary", [] { return Mod::ContaOcorrencias(kProse, u"casa", kBinary); }},
        CountCase{"ContaText", [] { return Mod::ContaOcorrencias(kProse, u"CASA", kText); }},
        CountCase{"ContaLongSearchBinary",
                  [] { return Mod::ContaOcorrencias(kAs, kLongSearch, kBinary); }},
        CountCase{"ContaLongSearchText",
                  [] { return Mod::ContaOcorrencias(kAs, kLongSearch, kText); }},
        CountCase{"ContaSearchAsLongAsText",
                  [] { return Mod::ContaOcorrencias(kLongText, kLongText, kText); }},
        CountCase{"ContaSurrogates",
                  [] { return Mod::ContaOcorrencias(kSurrogates, u"\U00010428", kText); }},
        CountCase{"FindLongSearch",
                  [] { return static_cast<std::int64_t>(Find(kAs, kLongSearch, 1, kText)); }},
        CountCase{"FindFromMiddle",
                  [] { return static_cast<std::int64_t>(Find(kLongText, u"jab", 7, kBinary)); }}),
    ByName());

// Storage the caller already holds, as an automation string would be: writing
// into it, the routines themselves allocate nothing at all.
class FixedSink final : public TextSink {
public:
    char16_t* Allocate(std::size_t units) override {
        if (units > kUnits) throw std::bad_alloc();
        return storage_;
    }
    static constexpr std::size_t kUnits = 1 << 20;

private:
    char16_t storage_[kUnits];
};
FixedSink gSink;

INSTANTIATE_TEST_SUITE_P(
    IntoCallerStorage, NoAllocation,
    ::testing::Values(CountCase{"TrocaAcentos",
                                [] { return (Mod::TrocaAcentos(kProse, gSink), 0); }},
                      CountCase{"ConverteLinksNoLink",
                                [] { return (Mod::ConverteLinks(kProse, u"", gSink), 0); }},
                      CountCase{"ConverteLinksDense",
                                [] { return (Mod::ConverteLinks(kLinks, u"_blank", gSink), 0); }},
                      CountCase{"ConverteLinksOneLongLink",
                                [] { return (Mod::ConverteLinks(kOneLongLink, u"", gSink), 0); }}),
    ByName());

}  // namespace
}  // namespace palavox
