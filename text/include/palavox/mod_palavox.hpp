// The three routines behind PalavoxClass, without its method frame. Public:
// installed for C++ consumers, who may rely on everything declared here.
#pragma once

#include <cstdint>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::ModPalavox {

// Non-overlapping matches of `procura` in `texto`, scanning left to right;
// 0 when either is empty. What a count means to a caller (FindString's -1 and
// its limits) is PalavoxClass's to say.
std::size_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                             CompareMode mode) noexcept;

// Wraps every link ("http" in any case, up to the next CR, space or "|") in an
// anchor opening in `alvo` ("_self" when empty). Nothing else is changed or escaped.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo);
void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado);

// Folds accented vowels and c-cedilla, "&" to "e", and a fixed set of symbols to spaces.
Text TrocaAcentos(std::u16string_view texto);
void TrocaAcentos(std::u16string_view texto, TextSink& resultado);

}  // namespace palavox::ModPalavox
