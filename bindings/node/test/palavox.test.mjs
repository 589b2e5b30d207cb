// The package over the shared case file, loaded every way a user loads it:
// require() and import in Node.js, and the browser build (no Buffer, TextDecoder).
// `npm test` runs it in the package; the packed-tarball check runs it where the
// tarball is installed. It needs nothing but the package and the case file beside it.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { parseCases, mismatches } from './cases.mjs';

const require = createRequire(import.meta.url);
const packageDir = path.dirname(require.resolve('palavox/package.json'));
const viaRequire = require('palavox');
const viaImport = await import('palavox');
const browser = await import(pathToFileURL(path.join(packageDir, 'browser.mjs')).href);
const { SHORT } = require(path.join(packageDir, 'lib', 'api.js'));
const tables = require(path.join(packageDir, 'lib', 'tables.js'));

const cases = parseCases(readFileSync(new URL('./palavox_cases.txt', import.meta.url)));

for (const [name, palavox] of [['require', viaRequire], ['import', viaImport],
  ['browser build', browser]]) {
  test(`${name}: 0 mismatches on the shared case file`, async () => {
    await palavox.init();
    const bad = mismatches(palavox, cases);
    assert.deepEqual(bad.slice(0, 10), [], `${bad.length} mismatches`);
  });
}

// The binding copies and decodes texts up to SHORT units itself and answers
// some of them from the tables without calling in; longer ones cross whole.
// Rows must reach each of those ways, or the case file tests one of them only.
test('the case file reaches every path of the binding', () => {
  const has = (unit, bit) => unit < tables.units.length && (tables.units[unit] & bit) !== 0;
  const any = (s, bit) => [...s].some((c) => has(c.charCodeAt(0), bit));
  const past = (s) => [...s].some((c) => c.charCodeAt(0) >= tables.caseKeys.length ||
    c.length > 1);
  const open = (s) => [...s].some((c) => (tables.caseKeys[c.charCodeAt(0)] & tables.OPEN) !== 0);
  const binary = (c) => c.args[2] === 'B' || c.args[2] === 'b';
  const counted = (c) => c.args[1].length !== 0 && c.args[1].length <= c.args[0].length;
  const keyed = (c) => counted(c) && !binary(c) && !past(c.args[1]);
  const rows = (method, where) => cases.filter((c) => c.method === method && where(c)).length;
  const paths = {
    'short text, nothing to fold': ['RemoverAcentuacao', (c, s) => s && !any(c.args[0], tables.FOLDS)],
    'short text folded': ['RemoverAcentuacao', (c, s) => s && any(c.args[0], tables.FOLDS)],
    'long text, nothing to fold': ['RemoverAcentuacao', (c, s) => !s && c.expected === c.args[0]],
    'long text folded': ['RemoverAcentuacao', (c, s) => !s && c.expected !== c.args[0]],
    'short text, no unit that starts a link': ['TrataHTML', (c, s) => s && !any(c.args[0], tables.LINK_START)],
    'short text that may hold a link and holds none': ['TrataHTML',
      (c, s) => s && any(c.args[0], tables.LINK_START) && c.expected === c.args[0]],
    'short text with links': ['TrataHTML', (c, s) => s && c.expected !== c.args[0]],
    'long text without links': ['TrataHTML', (c, s) => !s && c.expected === c.args[0]],
    'long text with links': ['TrataHTML', (c, s) => !s && c.expected !== c.args[0]],
    'long target': ['TrataHTML', (c) => c.args[1].length > SHORT],
    'short count': ['FindString', (c, s) => s],
    'short count by the case keys': ['FindString', (c, s) => s && keyed(c) && !past(c.args[0])],
    'short count by the case keys, a unit past them': ['FindString',
      (c, s) => s && keyed(c) && past(c.args[0]) && !open(c.args[1])],
    'short count by the case keys, a unit past them and a key others match': ['FindString',
      (c, s) => s && keyed(c) && past(c.args[0]) && open(c.args[1])],
    'short count, a search unit past the case keys': ['FindString',
      (c, s) => s && counted(c) && !binary(c) && past(c.args[1])],
    'short count at the longest short text': ['FindString', (c) => c.args[0].length === SHORT && counted(c)],
    'short exact count': ['FindString', (c, s) => s && counted(c) && binary(c)],
    'long text counted': ['FindString', (c, s) => !s],
    'long search text': ['FindString', (c) => c.args[1].length > SHORT],
    'long selector': ['FindString', (c) => c.args[2].length > SHORT],
  };
  const missing = Object.entries(paths).filter(([, [method, where]]) =>
    rows(method, (c) => where(c, c.args[0].length <= SHORT)) < 3).map(([name]) => name);
  assert.deepEqual(missing, [], 'paths with fewer than 3 rows');
});

// ------------------------------------------------------ the package surface

test('require and import share one instance and one error class', async () => {
  assert.equal(viaImport.PalavoxError, viaRequire.PalavoxError);
  assert.equal(viaImport.default, viaRequire);
  assert.equal(viaRequire.default, viaRequire);
  assert.equal(await viaRequire.init(), undefined);
});

test('errors carry the number and description; the next call works', () => {
  for (const palavox of [viaRequire, browser]) {
    for (const entrada of ['', null, undefined]) {
      assert.throws(() => palavox.findString(entrada, 'a'), (e) =>
        e instanceof palavox.PalavoxError && e instanceof Error && e.name === 'PalavoxError' &&
        e.number === 13 && e.number === palavox.PalavoxError.TYPE_MISMATCH &&
        e.message === 'Type mismatch');
    }
    assert.equal(palavox.findString('aXa', 'x'), 1);
  }
});

test('anything but a string, undefined or null is refused, naming the argument', () => {
  const calls = [
    ['entrada', (p, v) => p.trataHTML(v)], ['target', (p, v) => p.trataHTML('a', v)],
    ['entrada', (p, v) => p.findString(v, 'a')], ['procura', (p, v) => p.findString('a', v)],
    ['tipo', (p, v) => p.findString('a', 'a', v)], ['texto', (p, v) => p.removerAcentuacao(v)],
  ];
  for (const palavox of [viaRequire, browser]) {
    for (const value of [1, true, {}, ['a'], Symbol('s'), 10n, new String('a'), () => 'a']) {
      for (const [name, call] of calls) {
        assert.throws(() => call(palavox, value), (e) =>
          e instanceof TypeError && e.message.includes(name), name);
      }
    }
    assert.equal(palavox.trataHTML(undefined), '');
    assert.equal(palavox.removerAcentuacao(null), '');
  }
});

// ------------------------------------------ long texts, memory growth, limits

// Folding and counting work unit by unit, so a case repeated n times gives its
// result repeated n times. Sizes cross the areas kept between calls (1 Mi units)
// and make WebAssembly memory grow, which detaches every view the binding holds.
test('long texts: a case repeated gives its result repeated', () => {
  const fold = cases.filter((c) => c.method === 'RemoverAcentuacao' && c.args[0].length > 8 &&
    c.args[0] !== c.expected);
  for (const palavox of [viaRequire, browser]) {
    for (const units of [300_000, 1_300_000]) {
      const times = (s) => Math.ceil(units / s.length);
      for (const c of fold.slice(0, 3)) {
        const got = palavox.removerAcentuacao(c.args[0].repeat(times(c.args[0])));
        assert.ok(got === c.expected.repeat(times(c.args[0])), `line ${c.line}, ${units} units`);
      }
      const words = 'Casa casa CASA \uD800';
      assert.equal(palavox.findString(words.repeat(times(words)), 'casa'), 3 * times(words));
      assert.equal(palavox.findString(words.repeat(times(words)), 'casa', 'B'), times(words));
      const link = 'x http://a/b\r\n';
      assert.ok(palavox.trataHTML(link.repeat(times(link)), '_top') ===
        'x <a href="http://a/b" target="_top">http://a/b</a>\r\n'.repeat(times(link)));
      const plain = 'sem acento, sem link. ';
      assert.ok(palavox.removerAcentuacao(plain.repeat(times(plain))) === plain.repeat(times(plain)));
    }
  }
});

// A result too large for WebAssembly memory: out of memory, and nothing overwritten. A
// link "http " to a target of T units is 34 + T units marked up, so the results are
// 4.3 G units (past 32 bits), 2^31 + 2048 (its bytes past what 32 bits count, and a
// few KB once wrapped) and 2^31 - 512 (addressable, but more than the memory holds
// beside what is in it): only sized, never written.
test('a result too large for WebAssembly memory fails with 7', () => {
  for (const [targetUnits, links] of [[(1 << 22) + 5, 1025], [1_048_543, 2048], [1_049_054, 2047]]) {
    const target = 't'.repeat(targetUnits);
    const text = 'http '.repeat(links);
    for (const palavox of [viaRequire, browser]) {
      assert.throws(() => palavox.trataHTML(text, target), (e) =>
        e instanceof palavox.PalavoxError && e.number === 7 && e.message === 'Out of memory',
        `${links} links to a target of ${targetUnits} units`);
      assert.equal(palavox.trataHTML('a http://b', '_top'),
        'a <a href="http://b" target="_top">http://b</a>');
      assert.equal(palavox.findString('ação AÇÃO', 'ação'), 2);
    }
  }
});
