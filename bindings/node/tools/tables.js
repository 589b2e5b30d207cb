'use strict';
// Writes lib/tables.js: what the module just built says about every UTF-16
// code unit, for the shortcuts lib/api.js takes on short texts. Asked of the
// routines themselves, so the tables follow text/ whatever it changes:
//   FOLDS       removerAcentuacao changes the unit;
//   LINK_START  the unit followed by "ttp" is a link: it folds to the "h" of
//               "http", so a text with none of these holds no link.
//   foldMap     what removerAcentuacao makes of each unit, up to the last it
//               changes: it folds unit by unit, so a short text is folded
//               here without crossing into the module.
//   caseKeys    for each unit below KEYED, the least unit below KEYED that
//               findString (ignoring case) matches with it, plus OPEN when a
//               unit from KEYED up matches it too (the Kelvin sign "k", the
//               Ohm sign omega). Two units below KEYED match when their keys
//               are equal, so a short text is counted here: a unit of it from
//               KEYED up (surrogates included) matches no search unit whose
//               key is not OPEN, and meeting one against an OPEN key sends
//               the text to the module. Asked unit against unit, then checked
//               on whole texts against the module.
// Run by the wasm build (bindings/node/CMakeLists.txt).
const fs = require('fs');
const path = require('path');
const { imports, bind } = require('../lib/api.js');

const here = path.join(__dirname, '..');
const compiled = new WebAssembly.Module(fs.readFileSync(path.join(here, 'palavox.wasm')));
const palavox = bind(new WebAssembly.Instance(compiled, imports), null, Buffer);

const FOLDS = 1;
const LINK_START = 2;
const flags = new Uint8Array(0x10000);

let every = '';
for (let unit = 0; unit < 0x10000; unit++) every += String.fromCharCode(unit);
const folded = palavox.removerAcentuacao(every);
if (folded.length !== every.length) throw new Error('tables: folding changed the length');
for (let unit = 0; unit < 0x10000; unit++) {
  if (folded.charCodeAt(unit) !== unit) flags[unit] |= FOLDS;
  const word = String.fromCharCode(unit) + 'ttp';
  if (palavox.trataHTML(word) !== word) flags[unit] |= LINK_START;
}

let size = 0;
let folds = 0;
for (let unit = 0; unit < flags.length; unit++) {
  if (flags[unit] !== 0) size = unit + 1;
  if ((flags[unit] & FOLDS) !== 0) folds = unit + 1;
}
const foldMap = [];
for (let unit = 0; unit < folds; unit++) foldMap.push(folded.charCodeAt(unit));
// Folding unit by unit must be what the module does to a text: some texts
// folded both ways, or no table.
let seed = 1;
for (let k = 0; k < 2000; k++) {
  let s = '';
  for (let n = k % 70; n > 0; n--) {
    seed = (seed * 1103515245 + 12345) >>> 0;
    s += String.fromCharCode(seed % 4 === 0 ? (seed >>> 8) & 0xFFFF : (seed >>> 8) % (folds + 8));
  }
  let byUnit = '';
  for (let i = 0; i < s.length; i++) {
    const u = s.charCodeAt(i);
    byUnit += String.fromCharCode(u < folds ? foldMap[u] : u);
  }
  if (palavox.removerAcentuacao(s) !== byUnit) throw new Error('tables: folding is not unit by unit');
}
// Latin, Greek and Cyrillic: the letters names are written in.
const KEYED = 0x530;
const caseKeys = new Uint16Array(KEYED);
const leaders = [];
for (let unit = 0; unit < KEYED; unit++) {
  const u = String.fromCharCode(unit);
  caseKeys[unit] = unit;
  for (const leader of leaders) {
    if (palavox.findString(u, String.fromCharCode(leader)) === 1) {
      caseKeys[unit] = leader;
      break;
    }
  }
  if (caseKeys[unit] === unit) leaders.push(unit);
}
const OPEN = 0x8000;
let below = '';
for (let unit = 0; unit < KEYED; unit++) below += String.fromCharCode(unit);
// Each unit from KEYED up that matches one below it, and the key it matches.
const into = new Map();
for (let unit = KEYED; unit < 0x10000; unit++) {
  const u = String.fromCharCode(unit);
  if (palavox.findString(below, u) === 0) continue;
  for (const leader of leaders) {
    if (palavox.findString(String.fromCharCode(leader), u) === 1) {
      caseKeys[leader] |= OPEN;
      into.set(unit, leader);
    }
  }
}
for (let unit = 0; unit < KEYED; unit++) caseKeys[unit] |= caseKeys[caseKeys[unit] & ~OPEN] & OPEN;
// Every unit matches as many units below KEYED as share its key.
const members = new Uint16Array(KEYED);
for (let unit = 0; unit < KEYED; unit++) members[caseKeys[unit] & ~OPEN]++;
for (let unit = 0; unit < KEYED; unit++) {
  if (palavox.findString(below, String.fromCharCode(unit)) !== members[caseKeys[unit] & ~OPEN]) {
    throw new Error(`tables: unit ${unit} matches other units than its key says`);
  }
}
// Counting with the keys must give the module's count: random texts whose
// units are mostly from classes of more than one, searched for pieces of
// themselves with their case changed, under every kind of selector.
{
  const keyed = bind(new WebAssembly.Instance(compiled, imports), { units: flags, foldMap: [], OPEN, caseKeys }, Buffer);
  const shared = [];
  for (let unit = 0; unit < KEYED; unit++) {
    if (members[caseKeys[unit] & ~OPEN] > 1) shared.push(unit);
  }
  // Units from KEYED up: those that match one below it, some that match none, surrogates.
  const past = [...into.keys(), 0x2019, 0xFF21, 0xD801, 0xDC00, 0xDC28];
  const others = (u) => {
    const key = u < KEYED ? caseKeys[u] & ~OPEN : into.get(u);
    return key === undefined ? [] : shared.filter((v) => (caseKeys[v] & ~OPEN) === key);
  };
  const selectors = ['', 'B', 'b', 'x', 'BB'];
  for (let k = 0; k < 20000; k++) {
    let s = '';
    for (let n = 1 + (k % 66); n > 0; n--) {
      seed = (seed * 1103515245 + 12345) >>> 0;
      const pick = seed >>> 8;
      s += String.fromCharCode(pick % 8 === 0 ? (pick >>> 3) % KEYED
        : pick % 8 === 1 ? past[(pick >>> 4) % past.length] : shared[(pick >>> 4) % shared.length]);
    }
    // A run of one unit searched for a run of two or three: overlapping starts.
    const run = k % 5 === 0;
    if (run) s = s.slice(0, 1).repeat(1 + (k % 9)) + s;
    seed = (seed * 1103515245 + 12345) >>> 0;
    const from = run ? 0 : seed % s.length;
    const to = Math.min(s.length, run ? 2 + (k % 2) : from + 1 + ((seed >>> 8) % Math.min(6, s.length - from)));
    let p = '';
    for (let i = from; i < to; i++) {
      const like = others(s.charCodeAt(i));
      p += like.length === 0 ? s[i] : String.fromCharCode(like[(seed >>> (i % 16)) % like.length]);
    }
    const t = selectors[k % selectors.length];
    if (keyed.findString(s, p, t) !== palavox.findString(s, p, t)) {
      throw new Error(`tables: counting with the keys differs on ${JSON.stringify([s, p, t])}`);
    }
  }
}
const out = `'use strict';
// Generated by tools/tables.js from palavox.wasm; units past the end have no flag\n// and fold to themselves.
module.exports = {
  FOLDS: ${FOLDS},
  LINK_START: ${LINK_START},
  units: new Uint8Array([${Array.from(flags.subarray(0, size)).join(',')}]),
  foldMap: new Uint16Array([${foldMap.join(',')}]),
  OPEN: ${OPEN},
  caseKeys: new Uint16Array([${caseKeys.join(',')}]),
};
`;
fs.writeFileSync(path.join(here, 'lib', 'tables.js'), out);
