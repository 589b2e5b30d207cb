'use strict';
// The JavaScript side of palavox.wasm, shared by the Node.js entry points and
// the browser build: strings go into WebAssembly memory as UTF-16 code units
// and results come back unit for unit. No text rule lives here: the
// shortcuts for short texts read lib/tables.js, which tools/tables.js asks
// of the module itself when the package is built, and checks the shortcuts
// against the module's own answers there.
const { SHORT, fromUnits } = require('./short.js');

class PalavoxError extends Error {
  constructor(number, message) {
    super(message);
    this.name = 'PalavoxError';
    this.number = number;
  }
}

// The error numbers by the names palavox.h gives them (PALAVOX_TYPE_MISMATCH, ...),
// read-only on the class as DOMException's codes are: e.number === PalavoxError.TYPE_MISMATCH.
const NUMBERS = { INVALID_ARGUMENT: 5, OVERFLOW: 6, OUT_OF_MEMORY: 7, TYPE_MISMATCH: 13, INTERNAL_ERROR: 51 };
for (const name of Object.keys(NUMBERS)) {
  Object.defineProperty(PalavoxError, name, { value: NUMBERS[name], enumerable: true });
}

// undefined and null are the empty text, as a null string is for Palavox.dll.
function text(value, name) {
  if (typeof value === 'string') return value;
  if (value === undefined || value === null) return '';
  throw new TypeError('palavox: ' + name + ' must be a string, undefined or null');
}

// Imports of palavox.wasm: it grows its memory itself, and stops only on a fault of ours.
const imports = {
  env: { emscripten_notify_memory_growth() {} },
  wasi_snapshot_preview1: {
    proc_exit(code) { throw new Error('palavox.wasm stopped (' + code + ')'); },
  },
};

// Statuses besides the error numbers (src/palavox_wasm.cpp).
const RESULT = 0;
const UNCHANGED = -1;
// Words of the module's `state`.
const INPUT_AT = 0;
const INPUT_UNITS = 1;
const RESULT_AT = 2;
const RESULT_UNITS = 3;

// Up to SHORT units (lib/short.js) a text is copied and read in JavaScript and
// the table shortcuts apply: below that a call into Buffer's C++ costs more
// than the units, and a scan in JavaScript less than a crossing.
// After a call this large the module may give back the areas it grew.
const LARGE = 1 << 16;
const CHUNK = 8192;

// Without Node's Buffer: TextDecoder is fast on long texts, but would turn a
// lone surrogate into U+FFFD (fatal makes it throw instead) and drop a leading U+FEFF.
function makeDecoder() {
  const decoder = typeof TextDecoder === 'function'
    ? new TextDecoder('utf-16le', { fatal: true, ignoreBOM: true })
    : null;
  return (units, at, length) => {
    if (decoder !== null) {
      try {
        return decoder.decode(units.subarray(at, at + length));
      } catch (e) {
        // a lone surrogate: the exact path below
      }
    }
    let out = '';
    for (let i = at; i < at + length; i += CHUNK) {
      out += String.fromCharCode.apply(null, units.subarray(i, Math.min(i + CHUNK, at + length)));
    }
    return out;
  };
}

// Whether any unit of `s` has `bit` in the generated table.
function anyUnit(table, bit, s) {
  const size = table.length;
  const n = s.length;
  for (let i = 0; i < n; i++) {
    const unit = s.charCodeAt(i);
    if (unit < size && (table[unit] & bit) !== 0) return true;
  }
  return false;
}

// `tables` (lib/tables.js) turns the shortcuts on; `NodeBuffer`, when given,
// copies long texts both ways as they are.
function bind(instance, tables, NodeBuffer) {
  const wasm = instance.exports;
  wasm._initialize();
  const stateAt = wasm.pvx_state() >>> 2;
  const table = tables ? tables.units : null;
  const linkStart = tables ? tables.LINK_START : 0;
  const foldMap = tables ? tables.foldMap : null;
  const caseKeys = (tables && tables.caseKeys) || null;
  const folding = new Uint16Array(SHORT);
  const OPEN = tables ? tables.OPEN : 0;
  // The case keys of the search text findString last counted for in
  // JavaScript; searchOpen has OPEN when one of them has, and is -1 when a
  // unit of it is past the table.
  const searchKeys = new Uint16Array(SHORT);
  let keyedSearch = null;
  let searchOpen = 0;
  // The input area as the module last gave it (pvx_input, pvx_trim), and the
  // search text and selector findString left at its start, or null when a
  // call has written over them since.
  let inputAt = 0;
  let inputUnits = 0;
  let search = null;
  let selector = null;
  let units = null;
  let words = null;
  let bytes = null;
  let read = null;
  let write = null;
  const decode = makeDecoder();

  // Memory growth detaches the views, which then have no length.
  function views() {
    if (units !== null && units.length !== 0) return;
    const buffer = wasm.memory.buffer;
    units = new Uint16Array(buffer);
    words = new Uint32Array(buffer);
    if (NodeBuffer) {
      bytes = NodeBuffer.from(buffer);
      read = typeof bytes.ucs2Slice === 'function'
        ? (at, length) => bytes.ucs2Slice(at * 2, (at + length) * 2)
        : (at, length) => bytes.toString('utf16le', at * 2, (at + length) * 2);
      write = typeof bytes.ucs2Write === 'function'
        ? (s, at) => bytes.ucs2Write(s, at * 2, s.length * 2)
        : (s, at) => bytes.write(s, at * 2, s.length * 2, 'utf16le');
    } else {
      bytes = new Uint8Array(buffer);
    }
  }
  area();

  function fail(number) {
    views();
    let at = wasm.pvx_description(number) >>> 0;
    let message = '';
    while (bytes[at] !== 0) message += String.fromCharCode(bytes[at++]);
    throw new PalavoxError(number, message);
  }

  function area() {
    views();
    inputAt = words[stateAt + INPUT_AT] >>> 1;
    inputUnits = words[stateAt + INPUT_UNITS];
  }

  // The first unit (an index into `units`) of room for `total` units of
  // arguments; what was there is kept only when no new area was needed.
  function room(total) {
    views();
    if (total > inputUnits || inputAt === 0) {
      search = null;
      const status = wasm.pvx_input(total);
      area();
      if (status !== RESULT) fail(status);
    }
    return inputAt;
  }

  function trim() {
    wasm.pvx_trim();
    search = null;
    area();
  }

  // A short text folded unit by unit as the module folds it (tools/tables.js
  // checks that it does), or the text itself when no unit changes.
  function foldShort(s) {
    const n = s.length;
    const map = foldMap;
    const size = map.length;
    const out = folding;
    // One pass, writing as it reads: a second over a name's start costs more
    // than the writes save on names with nothing to fold.
    let changed = 0;
    for (let i = 0; i < n; i++) {
      const unit = s.charCodeAt(i);
      const to = unit < size ? map[unit] : unit;
      out[i] = to;
      changed |= to ^ unit;
    }
    return changed === 0 ? s : fromUnits(out, 0, n);
  }

  function keySearch(p) {
    const n = p.length;
    const keys = caseKeys;
    const size = keys.length;
    let open = 0;
    keyedSearch = p;
    searchOpen = -1;
    for (let i = 0; i < n; i++) {
      const unit = p.charCodeAt(i);
      if (unit >= size) return;
      const key = keys[unit];
      searchKeys[i] = key;
      open |= key & OPEN;
    }
    searchOpen = open;
  }

  // The module's count of the keyed search text (m units) in a short text,
  // or -1 for the module to count. Two units below the table's end match when
  // their keys do; a unit past it matches no key but an OPEN one (tools/tables.js
  // asks the module which units match which). A unit never looked at cannot
  // change the count, and after a match the next start is past its end, as
  // the module counts.
  function countKeyed(e, m, open) {
    const keys = caseKeys;
    const size = keys.length;
    const p = searchKeys;
    const first = p[0];
    const last = e.length - m;
    let count = 0;
    for (let i = 0; i <= last; i++) {
      const unit = e.charCodeAt(i);
      if (unit >= size) {
        if (open !== 0) return -1;
        continue;
      }
      if (keys[unit] !== first) continue;
      let j = 1;
      for (; j < m; j++) {
        const u = e.charCodeAt(i + j);
        if (u >= size) {
          if (open !== 0) return -1;
          break;
        }
        if (keys[u] !== p[j]) break;
      }
      if (j === m) {
        count++;
        i += m - 1;
      }
    }
    return count;
  }

  // Exact matching is unit equality, which indexOf is.
  function countUnits(e, p) {
    const m = p.length;
    let count = 0;
    for (let i = e.indexOf(p); i !== -1; i = e.indexOf(p, i + m)) count++;
    return count;
  }

  function put(s, at) {
    const n = s.length;
    if (n > SHORT && write !== null) {
      write(s, at);
    } else {
      const u = units;
      for (let i = 0; i < n; i++) u[at + i] = s.charCodeAt(i);
    }
  }

  // A routine's text: `first` itself when the module found the result equal to it.
  function result(status, first, total) {
    if (status === UNCHANGED) return first;
    views();
    if (status !== RESULT) fail(status);
    const at = words[stateAt + RESULT_AT] >>> 1;
    const length = words[stateAt + RESULT_UNITS];
    let out;
    if (length <= SHORT) {
      out = fromUnits(units, at, length);
    } else {
      out = read !== null ? read(at, length) : decode(units, at, length);
    }
    if (length > LARGE || total > LARGE) trim();
    return out;
  }

  return {
    trataHTML(entrada, target) {
      const e = text(entrada, 'entrada');
      const t = text(target, 'target');
      // No unit that can start a link: no link.
      if (table !== null && e.length <= SHORT && !anyUnit(table, linkStart, e)) return e;
      const at = room(e.length + t.length);
      search = null;
      put(e, at);
      put(t, at + e.length);
      return result(wasm.pvx_trata_html(e.length, t.length), e, e.length + t.length);
    },
    findString(entrada, procura, tipo) {
      const e = text(entrada, 'entrada');
      const p = text(procura, 'procura');
      const t = text(tipo, 'tipo');
      // A short text with a search text no longer than it: counted here. The
      // empty text's error and the empty search text's -1 come from the module.
      const m = p.length;
      if (caseKeys !== null && e.length <= SHORT && m !== 0 && m <= e.length) {
        if (t === 'B' || t === 'b') return countUnits(e, p);
        if (p !== keyedSearch) keySearch(p);
        if (searchOpen >= 0) {
          const count = countKeyed(e, m, searchOpen);
          if (count >= 0) return count;
        }
      }
      const total = e.length + p.length + t.length;
      // The search text and selector go first: a column searched for one
      // text copies only its rows.
      const at = room(total);
      if (p !== search || t !== selector) {
        put(p, at);
        put(t, at + p.length);
        search = p;
        selector = t;
      }
      put(e, at + p.length + t.length);
      const count = wasm.pvx_find_string(e.length, p.length, t.length);
      if (count < -1) fail(-2 - count);
      if (total > LARGE) trim();
      return count;
    },
    removerAcentuacao(texto) {
      const s = text(texto, 'texto');
      if (foldMap !== null && s.length <= SHORT) return foldShort(s);
      const at = room(s.length);
      search = null;
      put(s, at);
      return result(wasm.pvx_remover_acentuacao(s.length), s, s.length);
    },
  };
}

module.exports = { PalavoxError, imports, bind, SHORT };
