// PalavoxClass: the stateless facade automation clients call.
// Failures are thrown as palavox::Error (std::bad_alloc when memory runs out).
// Public: installed for C++ consumers, who may rely on everything declared here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "palavox/error.hpp"
#include "palavox/text.hpp"

namespace palavox {

class PalavoxClass {
public:
    std::u16string TrataHTML(std::u16string_view vemEntrada,
                             std::u16string_view vemTarget = {}) const;

    // Throws Error(13) when vemEntrada is empty; -1 for an empty vemProcura.
    std::int32_t FindString(std::u16string_view vemEntrada, std::u16string_view vemProcura,
                            std::u16string_view vemTipo = {}) const;

    std::u16string RemoverAcentuacao(std::u16string_view vemTextoAcentuado) const;

    // The same two, writing the result into storage the caller provides: the
    // sink is asked once, for the exact length (0 for an empty vemEntrada).
    void TrataHTML(std::u16string_view vemEntrada, std::u16string_view vemTarget,
                   TextSink& resultado) const;
    void RemoverAcentuacao(std::u16string_view vemTextoAcentuado, TextSink& resultado) const;

    // FindString's rules around the count itself, for a caller that counts a
    // text piece by piece (the palavox command); FindString is made of them.
    class FindStringFrame {
    public:
        FindStringFrame(std::u16string_view vemProcura, std::u16string_view vemTipo) noexcept;
        // The same rules on valid UTF-8, which is empty, "B" or "b" where its
        // UTF-16 form is.
        FindStringFrame(std::string_view vemProcura, std::string_view vemTipo) noexcept;

        // BinaryCompare when vemTipo is exactly "B" or "b", TextCompare otherwise.
        CompareMode mode() const noexcept { return mode_; }
        // Whether there is anything to count: vemProcura is not empty.
        bool counts() const noexcept { return counts_; }
        // FindString's result for a whole text of `entradaUnits` units holding
        // `count` matches: error 13 for an empty text, -1 for an empty
        // vemProcura, error 6 past 2,147,483,647, otherwise the count.
        std::int32_t Result(std::uint64_t entradaUnits, std::uint64_t count) const;

    private:
        CompareMode mode_;
        bool counts_;
    };
};

}  // namespace palavox
