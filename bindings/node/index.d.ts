// Palavox text services, with the results of Palavox.dll unit for unit.
// Strings are UTF-16 as JavaScript keeps them: lone surrogates and NULs pass
// through exactly. undefined and null count as the empty text.

/**
 * A failed call: `number` is the error number Palavox.dll raises (13, 5, 6), 7 (out of memory)
 * or 51 (a fault of ours), which the class's constants name as palavox.h does.
 */
export declare class PalavoxError extends Error {
  readonly name: 'PalavoxError';
  readonly number: number;
  /** 5, "Invalid procedure call or argument". */
  static readonly INVALID_ARGUMENT: 5;
  /** 6, "Overflow": a count past 2,147,483,647. */
  static readonly OVERFLOW: 6;
  /** 7, "Out of memory": a text or result larger than WebAssembly memory can hold. */
  static readonly OUT_OF_MEMORY: 7;
  /** 13, "Type mismatch": `findString` on an empty text. */
  static readonly TYPE_MISMATCH: 13;
  /** 51, "Internal error": a fault of Palavox's own, never the caller's. */
  static readonly INTERNAL_ERROR: 51;
}

/**
 * Wraps every web link ("http" in any case, up to the next CR, space or "|") in
 * `<a href="…" target="…">…</a>`, opening in `target` ("_self" when empty or omitted).
 * Escapes nothing: HTML-encode user text before calling it.
 */
export declare function trataHTML(entrada: string | null | undefined,
                                  target?: string | null): string;

/**
 * Non-overlapping occurrences of `procura`, ignoring case unless `tipo` is exactly
 * "B" or "b"; -1 for an empty `procura`. Throws PalavoxError 13 for an empty `entrada`.
 */
export declare function findString(entrada: string | null | undefined,
                                   procura: string | null | undefined,
                                   tipo?: string | null): number;

/** Folds accented vowels and ç to plain letters, "&" to "e", and a fixed set of symbols to spaces. */
export declare function removerAcentuacao(texto: string | null | undefined): string;

/** Resolves once the WebAssembly module is ready: already resolved in Node.js; await it first in a browser. */
export declare function init(): Promise<void>;

declare const palavox: {
  trataHTML: typeof trataHTML;
  findString: typeof findString;
  removerAcentuacao: typeof removerAcentuacao;
  PalavoxError: typeof PalavoxError;
  init: typeof init;
};
export default palavox;
