// The three routines behind PalavoxClass.
#pragma once

#include <cstdint>
#include <string_view>

#include "palavox/text.hpp"

namespace palavox::ModPalavox {

// Non-overlapping matches of `procura` in `texto`, scanning left to right.
// `tipo` exactly "B" or "b" selects BinaryCompare, anything else TextCompare.
// -1 when `texto` or `procura` is empty.
std::int32_t ContaOcorrencias(std::u16string_view texto, std::u16string_view procura,
                              std::u16string_view tipo);

// Wraps every link ("http" in any case, up to the next CR, space or "|") in an
// anchor opening in `alvo` ("_self" when empty). Nothing else is changed or escaped.
Text ConverteLinks(std::u16string_view texto, std::u16string_view alvo);
void ConverteLinks(std::u16string_view texto, std::u16string_view alvo, TextSink& resultado);

// Folds accented vowels and c-cedilla, "&" to "e", and a fixed set of symbols to spaces.
Text TrocaAcentos(std::u16string_view texto);
void TrocaAcentos(std::u16string_view texto, TextSink& resultado);

}  // namespace palavox::ModPalavox
