'use strict';
// The JavaScript side of palavox.wasm, shared by the Node.js entry points and
// the browser build: strings go into WebAssembly memory as UTF-16 code units
// and results come back unit for unit. No text logic lives here.

class PalavoxError extends Error {
  constructor(number, message) {
    super(message);
    this.name = 'PalavoxError';
    this.number = number;
  }
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

const CHUNK = 8192;

// Without Node's Buffer: TextDecoder is fast, but would turn a lone surrogate
// into U+FFFD (fatal makes it throw instead) and drop a leading U+FEFF.
function makeDecoder() {
  const decoder = typeof TextDecoder === 'function'
    ? new TextDecoder('utf-16le', { fatal: true, ignoreBOM: true })
    : null;
  return (units) => {
    if (decoder !== null) {
      try {
        return decoder.decode(units);
      } catch (e) {
        // a lone surrogate: the exact path below
      }
    }
    let out = '';
    for (let i = 0; i < units.length; i += CHUNK) {
      out += String.fromCharCode.apply(null, units.subarray(i, i + CHUNK));
    }
    return out;
  };
}

// `NodeBuffer`, when given, copies code units both ways as they are.
function bind(instance, NodeBuffer) {
  const wasm = instance.exports;
  wasm._initialize();
  const decode = makeDecoder();
  let buffer = null;
  let units = null;
  let bytes = null;

  // Memory growth detaches the old views.
  function views() {
    if (buffer !== wasm.memory.buffer) {
      buffer = wasm.memory.buffer;
      units = new Uint16Array(buffer);
      bytes = NodeBuffer ? NodeBuffer.from(buffer) : new Uint8Array(buffer);
    }
  }

  // The arguments, one after another, into the input area.
  function put(args) {
    let total = 0;
    for (const s of args) total += s.length;
    const at = wasm.pvx_input(total) >>> 0;
    if (at === 0) throw new PalavoxError(7, 'Out of memory');
    views();
    let unit = at >>> 1;
    for (const s of args) {
      if (NodeBuffer) {
        bytes.write(s, unit * 2, s.length * 2, 'utf16le');
      } else {
        for (let i = 0; i < s.length; i++) units[unit + i] = s.charCodeAt(i);
      }
      unit += s.length;
    }
  }

  function check(status) {
    if (status === 0) return;
    views();
    let at = wasm.pvx_description() >>> 0;
    let message = '';
    while (bytes[at] !== 0) message += String.fromCharCode(bytes[at++]);
    throw new PalavoxError(status, message);
  }

  function result() {
    const length = wasm.pvx_result_length() >>> 0;
    if (length === 0) return '';
    const at = wasm.pvx_result() >>> 0;
    views();
    const out = NodeBuffer
      ? bytes.toString('utf16le', at, at + length * 2)
      : decode(units.subarray(at >>> 1, (at >>> 1) + length));
    wasm.pvx_trim();
    return out;
  }

  return {
    trataHTML(entrada, target) {
      const e = text(entrada, 'entrada');
      const t = text(target, 'target');
      put([e, t]);
      check(wasm.pvx_trata_html(e.length, t.length));
      return result();
    },
    findString(entrada, procura, tipo) {
      const e = text(entrada, 'entrada');
      const p = text(procura, 'procura');
      const t = text(tipo, 'tipo');
      put([e, p, t]);
      check(wasm.pvx_find_string(e.length, p.length, t.length));
      return wasm.pvx_count();
    },
    removerAcentuacao(texto) {
      const s = text(texto, 'texto');
      put([s]);
      check(wasm.pvx_remover_acentuacao(s.length));
      return result();
    },
  };
}

module.exports = { PalavoxError, imports, bind };
