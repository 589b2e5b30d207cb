'use strict';
// Node.js, CommonJS: palavox.wasm is compiled and ready when require() returns.
const fs = require('fs');
const path = require('path');
const { PalavoxError, imports, bind } = require('./lib/api.js');
const tables = require('./lib/tables.js');

const compiled = new WebAssembly.Module(fs.readFileSync(path.join(__dirname, 'palavox.wasm')));
const api = bind(new WebAssembly.Instance(compiled, imports), tables, Buffer);

module.exports = {
  trataHTML: api.trataHTML,
  findString: api.findString,
  removerAcentuacao: api.removerAcentuacao,
  PalavoxError,
  init: () => Promise.resolve(),
};
module.exports.default = module.exports;
