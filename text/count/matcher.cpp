#include "matcher.hpp"

#include <bit>
#include <cstdint>

#include "simd/simd.hpp"
#include "two_way.hpp"
#include "verify.hpp"
#define PALAVOX_KERNEL "count/matcher_blocks.hpp"
#include "simd/simd_each.hpp"

namespace palavox::detail {
namespace {

constexpr std::size_t npos = Matcher::npos;

std::size_t CountFrom(std::u16string_view text, std::u16string_view search, bool fold,
                      std::size_t from) noexcept {
    std::size_t count = 0;
    for (std::size_t at = TwoWayFind(text, search, fold, from); at != npos;
         at = TwoWayFind(text, search, fold, at + search.size())) {
        ++count;
    }
    return count;
}

// Candidates that pass both probes, verified left to right from `from`: the
// first match, or (kCount) the number of matches. Verifying has a budget of
// four units compared per unit scanned since the last match (or `from`), plus
// 4m + 256 so that a short text or one long near miss never hands over: it
// thus never costs more than a few scans of the text, however many
// candidates fail late (as in «aaaa…ab» within «aaaa…a»). Past the budget
// the two-way algorithm, linear whatever the input, takes over from the next
// start.
template <ProbeKind kKind, bool kCount, Kernel kKernel>
class CandidateSearch {
public:
    CandidateSearch(std::u16string_view text, std::u16string_view search, bool fold,
                    const Probes& probes, std::size_t from) noexcept
        : text_(text), search_(search), probes_(probes), fold_(fold), start_(from) {}

    std::size_t Run() noexcept {
        const char16_t* const t = text_.data();
        const std::size_t end = text_.size() - search_.size() + 1;  // one past the last start
        std::size_t i = start_;
        if constexpr (kKernel != Kernel::Scalar) {
            if (CandidateBlocks<kKind>(simd::Isa<kKernel>{}, t, probes_, i, end, *this)) {
                return result_;
            }
        }
        // What the blocks left, or everything.
        for (; i < end; ++i) {
            if (i < start_) continue;
            if (!Accepts<kKind>(probes_.first, t[i + probes_.first.offset])) continue;
            if (!Accepts<kKind>(probes_.second, t[i + probes_.second.offset])) continue;
            if (Stops(i)) return result_;
        }
        return kCount ? count_ : npos;
    }

    // A block's candidates (bit j for the start j units into the block): true to stop there.
    bool operator()(std::size_t block, std::uint64_t mask) noexcept {
        for (; mask != 0; mask &= mask - 1) {
            const std::size_t at = block + static_cast<std::size_t>(std::countr_zero(mask));
            if (at >= start_ && Stops(at)) return true;  // below start_: inside the last match
        }
        return false;
    }

private:
    // Verifies the candidate at `at`; true, with result_, when the search ends there.
    bool Stops(std::size_t at) noexcept {
        const std::size_t m = search_.size();
        const std::size_t same = fold_ ? FoldedMismatch(text_, at, search_)
                                       : Mismatch<kKernel>(text_.data() + at, search_.data(), m);
        if (same == m) {
            if (!kCount) {
                result_ = at;
                return true;
            }
            ++count_;
            start_ = at + m;
            verified_ = 0;
            return false;
        }
        verified_ += same + 1;
        if (verified_ <= 4 * (at - start_) + 4 * m + 256) return false;
        // `at` itself has failed: the two-way algorithm goes on from the next start.
        result_ = kCount ? count_ + CountFrom(text_, search_, fold_, at + 1)
                         : TwoWayFind(text_, search_, fold_, at + 1);
        return true;
    }

    std::u16string_view text_, search_;
    const Probes& probes_;
    bool fold_;
    std::size_t start_;         // where this search began: after the last match when counting
    std::size_t verified_ = 0;  // units compared while verifying since start_
    std::size_t count_ = 0;
    std::size_t result_ = npos;
};

// Visits of the short-search blocks, whose every start is a match.
// Matches left to right that do not overlap: the first, or (all) every one.
struct TakeMatches {
    bool operator()(std::size_t block, std::uint64_t starts) noexcept {
        for (; starts != 0; starts &= starts - 1) {
            const std::size_t at = block + Lowest(starts);
            if (at < next) continue;  // inside the last match
            if (!all) {
                found = at;
                return true;
            }
            ++count;
            next = at + size;
        }
        return false;
    }

    bool all;
    std::size_t size, next;
    std::size_t count = 0;
    std::size_t found = npos;
};

// Every start, where no two matches can overlap: no branch on the text.
struct CountStarts {
    bool operator()(std::size_t, std::uint64_t starts) noexcept {
        count += static_cast<std::size_t>(std::popcount(starts));
        return false;
    }

    std::size_t count = 0;
};

template <bool kCount, Kernel kKernel>
std::size_t ShortSearchFrom(const ShortSearch& s, std::u16string_view text,
                            std::size_t from) noexcept {
    static_assert(kKernel != Kernel::Scalar);
    const auto blocks = [&](auto& visit) noexcept {
        const auto run = [&]<std::size_t kPlaces, bool kBytes>() noexcept {
            return ShortSearchBlocks<kPlaces, kBytes>(simd::Isa<kKernel>{}, s, text, from, visit);
        };
        if (!s.bytes) return run.template operator()<kMaxShortSearch, false>();
        switch (s.size) {
            case 1:
                return run.template operator()<1, true>();
            case 2:
                return run.template operator()<2, true>();
            case 3:
                return run.template operator()<3, true>();
            default:
                return run.template operator()<4, true>();
        }
    };
    if (kCount && !s.overlaps) {
        CountStarts visit;
        blocks(visit);
        return visit.count;
    }
    TakeMatches visit{kCount, s.size, from};
    blocks(visit);
    return kCount ? visit.count : visit.found;
}

}  // namespace

Matcher::Matcher(std::u16string_view search, CompareMode mode) noexcept
    : search_(search),
      fold_(mode == CompareMode::TextCompare),
      // Built in place (a prvalue either way); only vector kernels search this way.
      short_(simd::kVectors ? PlanShortSearch(search, fold_) : ShortSearch{}) {
    if (!short_.active) probes_ = ChooseProbes(search, fold_);
}

std::size_t Matcher::FindFrom(std::u16string_view text, std::size_t from) const noexcept {
    const std::size_t m = search_.size();
    if (m == 0) return from <= text.size() ? from : npos;
    if (from > text.size() || text.size() - from < m) return npos;
    return Search<false>(text, from);
}

std::size_t Matcher::Count(std::u16string_view text) const noexcept {
    if (search_.empty() || text.size() < search_.size()) return 0;
    return Search<true>(text, 0);
}

std::size_t Matcher::FindFromTwoWay(std::u16string_view text, std::size_t from) const noexcept {
    const std::size_t m = search_.size();
    if (m == 0) return from <= text.size() ? from : npos;
    if (from > text.size() || text.size() - from < m) return npos;
    return TwoWayFind(text, search_, fold_, from);
}

std::size_t Matcher::CountTwoWay(std::u16string_view text, std::size_t from) const noexcept {
    if (search_.empty() || from > text.size()) return 0;
    return CountFrom(text, search_, fold_, from);
}

template <bool kCount>
std::size_t Matcher::Search(std::u16string_view text, std::size_t from) const noexcept {
    return simd::WithKernel([&](auto kernel) noexcept {
        constexpr Kernel kKernel = decltype(kernel)::value;
        if constexpr (kKernel != Kernel::Scalar) {
            if (short_.active) return ShortSearchFrom<kCount, kKernel>(short_, text, from);
        }
        // The plain loops probe short search texts too: chosen here, where they are used.
        const Probes probes = short_.active ? ChooseProbes(search_, fold_) : probes_;
        if (!probes.any) return kCount ? CountTwoWay(text, from) : FindFromTwoWay(text, from);
        const auto candidates = [&]<ProbeKind kKind>() noexcept {
            return CandidateSearch<kKind, kCount, kKernel>(text, search_, fold_, probes, from)
                .Run();
        };
        // branch-untaken: every ProbeKind is a case; no other value reaches the switch
        switch (probes.kind) {
            case ProbeKind::Exact:
                return candidates.template operator()<ProbeKind::Exact>();
            case ProbeKind::BitPair:
                return candidates.template operator()<ProbeKind::BitPair>();
            case ProbeKind::Class:
                break;
        }
        return candidates.template operator()<ProbeKind::Class>();
    });
}

}  // namespace palavox::detail
