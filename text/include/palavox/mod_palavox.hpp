// The three routines behind PalavoxClass, without its method frame. Public:
// installed for C++ consumers, who may rely on everything declared here.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::ModPalavox {

// Non-overlapping matches of `procura` in `texto`, scanning left to right;
// 0 when either is empty. What a count means to a caller (FindString's -1 and
// its limits) is PalavoxClass's to say.
std::size_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                             CompareMode mode) noexcept;

// ContaOcorrencias of one search text in many texts (a column): how to find
// `procura` is worked out once, where ContaOcorrencias works it out on every
// call. Holds a view of `procura`: keep it alive while counting.
class Contador {
public:
    Contador(std::u16string_view procura, CompareMode mode);
    ~Contador();
    Contador(const Contador&) = delete;
    Contador& operator=(const Contador&) = delete;

    // ContaOcorrencias(texto, procura, mode).
    std::size_t Conta(std::u16string_view texto) const noexcept;

private:
    struct Busca;
    std::unique_ptr<const Busca> busca_;  // null for an empty procura
};

// Wraps every link ("http" in any case, up to the next CR, space or "|") in an
// anchor opening in `alvo` ("_self" when empty). Nothing else is changed or escaped.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo);
void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado);
// The same in two steps, for callers that size their own storage: the result's
// length, then the result written to `resultado`, which holds exactly that
// many units. A result as long as the text is the text itself: it has no link.
std::size_t ConverteLinksSize(std::u16string_view texto, std::u16string_view alvo);
void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, char16_t* resultado);

// Folds accented vowels and c-cedilla, "&" to "e", and a fixed set of symbols to spaces.
Text TrocaAcentos(std::u16string_view texto);
void TrocaAcentos(std::u16string_view texto, TextSink& resultado);
// The same into `resultado`, which has room for texto.size() units (a folded
// text is as long as the text).
void TrocaAcentos(std::u16string_view texto, char16_t* resultado) noexcept;

}  // namespace palavox::ModPalavox
