'use strict';
// npm run bench: palavox against what Node.js users reach for today, timed
// side by side in one run: per call on 100,000 names (a column of a table,
// called once per row), and on 1 MiB (UTF-16) of Portuguese prose with links.
// Only the ratios mean anything on a shared machine.
const palavox = require('..');
const removeAccents = require('remove-accents');
const { LinkifyIt } = require('linkify-it');
const { Autolinker } = require('autolinker');

// Frequent words first; picking the smaller of two draws makes them frequent.
const WORDS = ('de a o que e do da em um para com não uma os no se na por mais as dos como mas ' +
  'foi ao ele das tem à seu sua ou ser quando muito há nos já está eu também só pelo pela até ' +
  'isso ela entre era depois sem mesmo aos ter seus quem nas me esse eles estão você tinha ' +
  'foram essa num nem suas meu às minha têm numa pelos elas havia seja qual será nós tenho lhe ' +
  'deles essas esses pelas este fosse dele informação ação coração município público serviço ' +
  'três país café médico água português é então possível crédito notícia período após além ' +
  'órgão conteúdo técnico econômico política governo cidade sistema trabalho empresa processo ' +
  'relatório educação saúde segurança população casa tempo ano dia vez homem mundo vida parte ' +
  'lugar forma caso grupo problema fato mãe pai história notícias reunião elétrico São Paulo ' +
  'Brasília João José Antônio').split(' ');
const HOSTS = ['www.exemplo.com.br', 'portal.gov.br', 'noticias.net', 'loja.com'];
const PATH = 'abcdefgijklmnoqrsuvwxyz0123456789-';

// A fixed 64-bit LCG, so every run times the same text.
let state = 20240605n;
function below(n) {
  state = (state * 6364136223846793005n + 1442695040888963407n) & 0xFFFFFFFFFFFFFFFFn;
  return Number(state >> 33n) % n;
}

// Sentences of 5 to 20 words; about one word in 40 is a link, always ended by
// a space, as a link in running text is.
function prose(units) {
  let out = '';
  while (out.length < units) {
    const words = 5 + below(16);
    for (let w = 0; w < words; w++) {
      if (w > 0) out += ' ';
      if (below(40) === 0) {
        out += 'https://' + HOSTS[below(HOSTS.length)] + '/';
        for (let k = 4 + below(20); k > 0; k--) out += PATH[below(PATH.length)];
      } else {
        let word = WORDS[Math.min(below(WORDS.length), below(WORDS.length))];
        if (w === 0) word = word[0].toUpperCase() + word.slice(1);
        out += below(50) === 0 ? '(' + word + ')' : word;
      }
    }
    out += below(20) < 17 ? '. ' : '? ';
  }
  return out.slice(0, units);
}

// Least time of each of two functions over `rounds` rounds that alternate
// them, after a warm-up that lets the JIT settle: noise from the rest of the
// machine falls on both alike.
function timePair(a, b, rounds) {
  for (let i = 0; i < 5; i++) { a(); b(); }
  const best = [Infinity, Infinity];
  for (let r = 0; r < rounds; r++) {
    [a, b].forEach((fn, k) => {
      const start = process.hrtime.bigint();
      fn();
      best[k] = Math.min(best[k], Number(process.hrtime.bigint() - start) / 1e6);
    });
  }
  return best;
}

// ------------------------------------------------------------ per call

// Names of two to four words, as a column holds them.
const ACCENTED = ('João José Antônio Conceição Sebastião Gonçalves Araújo Luís Márcia Inês ' +
  'Fábio Vitória Débora Cecília Lúcia Simões Magalhães Brandão Falcão Assunção Glória Tânia ' +
  'Mônica Patrícia Jéssica Vinícius Caetano Estêvão Guimarães Romão Nóbrega Conrado Ângela').split(' ')
  .filter((w) => /[^\x00-\x7f]/.test(w));
const PLAIN = ('Maria Ana Paulo Carlos Pedro Lucas Silva Santos Oliveira Souza Rodrigues Ferreira ' +
  'Alves Pereira Lima Gomes Costa Ribeiro Martins Carvalho Almeida Lopes Soares Fernandes Vieira ' +
  'Barbosa Rocha Dias Nascimento Andrade Moreira Nunes Marques Machado Mendes Freitas Cardoso ' +
  'Ramos Teixeira Correia Thiago Helena Rafael Beatriz Gabriel Juliana Mateus Camila').split(' ');
function names(count, pick) {
  const out = [];
  for (let i = 0; i < count; i++) {
    const words = [];
    for (let w = 2 + below(3); w > 0; w--) words.push(pick(w));
    out.push(words.join(' '));
  }
  return out;
}
const CALLS = 100000;
const anyWord = (list) => list[below(list.length)];
const mixed = names(CALLS, () => (below(3) === 0 ? anyWord(ACCENTED) : anyWord(PLAIN)));
const accented = names(CALLS, (w) => (w === 1 ? anyWord(ACCENTED) : anyWord(below(2) ? ACCENTED : PLAIN)));
const ascii = names(CALLS, () => anyWord(PLAIN));
// Short comments, about one in four with a link.
const comments = names(CALLS, () => (below(10) === 0 ? 'https://' + HOSTS[below(HOSTS.length)] + '/x' : anyWord(PLAIN)));

// What users write for the other two: a case-insensitive count with
// toLowerCase and indexOf, and a regular expression replace.
function countLowered(text, lowered) {
  const t = text.toLowerCase();
  let n = 0;
  for (let i = t.indexOf(lowered); i !== -1; i = t.indexOf(lowered, i + lowered.length)) n++;
  return n;
}
const LINK = /http[^\r |]*/gi;
const markUp = (text) => text.replace(LINK, '<a href="$&" target="_self">$&</a>');

// Least time per call over 100,000 texts, in alternating rounds.
function perCall(texts, a, b, rounds, same = true) {
  const run = (fn) => () => {
    let sink = 0;
    for (let i = 0; i < texts.length; i++) {
      const r = fn(texts[i]);
      sink += typeof r === 'number' ? r : r.length;
    }
    return sink;
  };
  // Both sides must give the same answers on these texts, or they did not do the same work.
  for (const text of same ? texts : []) {
    if (a(text) !== b(text)) throw new Error(`bench: different results on ${JSON.stringify(text)}`);
  }
  return timePair(run(a), run(b), rounds).map((ms) => ms * 1e6 / texts.length);
}

const rowsPerCall = [
  ['removerAcentuacao', 'names, mixed', mixed, palavox.removerAcentuacao, 'remove-accents', removeAccents],
  ['removerAcentuacao', 'names, accented', accented, palavox.removerAcentuacao, 'remove-accents', removeAccents],
  ['removerAcentuacao', 'names, ASCII', ascii, palavox.removerAcentuacao, 'remove-accents', removeAccents],
  ['findString', 'names, mixed', mixed, (t) => palavox.findString(t, 'silva'),
    'toLowerCase+indexOf', (t) => countLowered(t, 'silva')],
  ['findString', 'names, ASCII', ascii, (t) => palavox.findString(t, 'silva'),
    'toLowerCase+indexOf', (t) => countLowered(t, 'silva')],
  ['findString "ção"', 'names, accented', accented, (t) => palavox.findString(t, 'ção'),
    'toLowerCase+indexOf', (t) => countLowered(t, 'ção')],
  ['trataHTML', 'names, mixed', mixed, palavox.trataHTML, 'RegExp replace', markUp],
  ['trataHTML', 'comments, links', comments, palavox.trataHTML, 'RegExp replace', markUp],
];
const avgUnits = (texts) => (texts.reduce((n, t) => n + t.length, 0) / texts.length).toFixed(1);
console.log(`per call: ${CALLS} texts of each kind (names ${avgUnits(mixed)} units on average, ` +
  `comments ${avgUnits(comments)}); least time per call of 15 alternating rounds`);
for (const [method, kind, texts, ours, theirs, runTheirs] of rowsPerCall) {
  const [a, b] = perCall(texts, ours, runTheirs, 15);
  console.log(`${method.padEnd(17)} ${kind.padEnd(16)} palavox ${a.toFixed(0).padStart(5)} ns   ` +
    `${theirs.padEnd(19)} ${b.toFixed(0).padStart(5)} ns   palavox ${(b / a).toFixed(1)}x faster`);
}

// The floor under a short call that returns a new text, with no work done:
// each unit copied into a typed array and the string made back from it, as
// the binding does on either side of the module.
const { fromUnits } = require('../lib/short.js');
const scratch = new Uint16Array(1024);
function copyInAndOut(text) {
  const n = text.length;
  for (let i = 0; i < n; i++) scratch[i] = text.charCodeAt(i);
  return fromUnits(scratch, 0, n);
}
{
  const folded = accented.filter((t) => palavox.removerAcentuacao(t) !== t);
  const [a, b] = perCall(folded, palavox.removerAcentuacao, copyInAndOut, 15, false);
  console.log(`${'the copies alone'.padEnd(17)} ${'names, accented'.padEnd(16)} palavox ${a.toFixed(0).padStart(5)} ns   ` +
    `${'copy in and out'.padEnd(19)} ${b.toFixed(0).padStart(5)} ns   palavox ${(a / b).toFixed(1)}x the copies`);
}

// The floor under findString on a name: its units copied into the module's
// memory and the module's count alone, the search text already there.
{
  const fs = require('fs');
  const path = require('path');
  const { imports } = require('../lib/api.js');
  const dir = path.join(__dirname, '..');
  const instance = new WebAssembly.Instance(new WebAssembly.Module(fs.readFileSync(path.join(dir, 'palavox.wasm'))), imports);
  const wasm = instance.exports;
  wasm._initialize();
  if (wasm.pvx_input(1024) !== 0) throw new Error('bench: no input area');
  const at = new Uint32Array(wasm.memory.buffer)[wasm.pvx_state() >>> 2] >>> 1;
  const units = new Uint16Array(wasm.memory.buffer);
  for (let i = 0; i < 5; i++) units[at + i] = 'silva'.charCodeAt(i);
  const copyAndCount = (t) => {
    const n = t.length;
    for (let i = 0; i < n; i++) units[at + 5 + i] = t.charCodeAt(i);
    return wasm.pvx_find_string(n, 5, 0);
  };
  const find = (t) => palavox.findString(t, 'silva');
  const [a, b] = perCall(mixed, find, copyAndCount, 15);
  console.log(`${'the floor alone'.padEnd(17)} ${'names, mixed'.padEnd(16)} palavox ${a.toFixed(0).padStart(5)} ns   ` +
    `${'copy in and count'.padEnd(19)} ${b.toFixed(0).padStart(5)} ns   palavox ${(a / b).toFixed(1)}x the floor`);
}

// ------------------------------------------------------------ 1 MiB

const input = prose(1 << 19);  // 1 MiB of UTF-16
const nonAscii = [...input].filter((c) => c.charCodeAt(0) > 0x7f).length;
const links = palavox.findString(input, 'https://');
const linkify = new LinkifyIt();
const autolinker = new Autolinker({ urls: true, email: false, phone: false, mention: false,
  hashtag: false, stripPrefix: false, stripTrailingSlash: false, newWindow: false });
const ROUNDS = 41;

console.log(`input: ${input.length} UTF-16 units (${(input.length * 2 / 1048576).toFixed(2)} MiB), ` +
  `${(100 * nonAscii / input.length).toFixed(1)} % non-ASCII, ${links} links; ` +
  `least time of ${ROUNDS} alternating rounds`);

const rows = [
  ['accent folding', 'palavox.removerAcentuacao', () => palavox.removerAcentuacao(input),
    'remove-accents', () => removeAccents(input)],
  ['finding links', 'palavox.trataHTML', () => palavox.trataHTML(input),
    'linkify-it match', () => linkify.match(input)],
  ['marking up links', 'palavox.trataHTML', () => palavox.trataHTML(input),
    'autolinker link', () => autolinker.link(input)],
];
for (const [task, ours, run, theirs, runTheirs] of rows) {
  const [a, b] = timePair(run, runTheirs, ROUNDS);
  console.log(`${task.padEnd(17)} ${ours.padEnd(26)} ${a.toFixed(2).padStart(8)} ms   ` +
    `${theirs.padEnd(17)} ${b.toFixed(2).padStart(8)} ms   palavox ${(b / a).toFixed(1)}x faster`);
}

// The floor under any function that returns a new text: making a JavaScript
// string of the result's length from memory. Above 128 KiB V8 puts it on
// freshly mapped pages, so on some machines this is most of palavox's time.
const folded = Buffer.from(palavox.removerAcentuacao(input), 'utf16le');
const marked = Buffer.from(palavox.trataHTML(input), 'utf16le');
for (const [ours, run, what, copy] of [
  ['palavox.removerAcentuacao', () => palavox.removerAcentuacao(input), 'its result', () => folded.toString('utf16le')],
  ['palavox.trataHTML', () => palavox.trataHTML(input), 'its result', () => marked.toString('utf16le')],
]) {
  const [a, b] = timePair(run, copy, ROUNDS);
  console.log(`${'string from copy'.padEnd(17)} ${ours.padEnd(26)} ${a.toFixed(2).padStart(8)} ms   ` +
    `${what.padEnd(17)} ${b.toFixed(2).padStart(8)} ms   palavox ${(a / b).toFixed(1)}x the copy`);
}
