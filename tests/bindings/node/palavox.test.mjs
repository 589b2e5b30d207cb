// The npm package over the shared case file, loaded every way a user loads it:
// require() and import in Node.js, and the browser build (no Buffer, TextDecoder).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';
import path from 'node:path';

const here = path.dirname(fileURLToPath(import.meta.url));
const root = path.join(here, '..', '..', '..');
const packageDir = path.join(root, 'bindings', 'node');
const require = createRequire(import.meta.url);

const viaRequire = require(packageDir);
const viaImport = await import(path.join(packageDir, 'index.mjs'));
const browser = await import(path.join(packageDir, 'browser.mjs'));

// ------------------------------------------------------------ the case file

const ESCAPES = { '\\': '\\', t: '\t', n: '\n', r: '\r', 0: '\0' };
const unescape = (field) => field.replace(/\\(.)/g, (_, c) => ESCAPES[c]);
const ARITY = { TrataHTML: 2, FindString: 3, RemoverAcentuacao: 1 };

function loadCases() {
  const raw = readFileSync(path.join(root, 'tests', 'cases', 'palavox_cases.txt'));
  assert.equal(raw.readUInt16LE(0), 0xfeff, 'the case file starts with a byte order mark');
  const cases = [];
  raw.toString('utf16le', 2).split('\n').forEach((line, i) => {
    if (line === '' || line.startsWith('#')) return;
    const [method, ...fields] = line.split('\t');
    assert.equal(fields.length, ARITY[method] + 1, `line ${i + 2}: field count`);
    const expected = fields.pop();
    cases.push({ line: i + 2, method, args: fields.map(unescape),
      expected: method === 'FindString' ? expected : unescape(expected) });
  });
  for (const method of Object.keys(ARITY)) {
    assert.ok(cases.filter((c) => c.method === method).length >= 50, `rows for ${method}`);
  }
  return cases;
}

const cases = loadCases();
const show = (s) => JSON.stringify(s);

// What a call gives, in the case file's own terms.
function outcome(fn) {
  try {
    const value = fn();
    return typeof value === 'number' ? String(value) : value;
  } catch (e) {
    if (e instanceof Error && typeof e.number === 'number') return `error ${e.number}`;
    throw e;
  }
}

// Every case, and where the optional argument is empty, the same call with it
// left out and with null: all three must give the case's result.
function mismatches(palavox) {
  const bad = [];
  for (const c of cases) {
    const call = (args) => outcome(() => {
      switch (c.method) {
        case 'TrataHTML': return palavox.trataHTML(...args);
        case 'FindString': return palavox.findString(...args);
        default: return palavox.removerAcentuacao(...args);
      }
    });
    const variants = [c.args];
    if (c.method !== 'RemoverAcentuacao' && c.args[c.args.length - 1] === '') {
      variants.push(c.args.slice(0, -1), [...c.args.slice(0, -1), null]);
    }
    for (const args of variants) {
      const got = call(args);
      if (got !== c.expected) {
        bad.push(`line ${c.line} ${c.method}(${args.map(show).join(', ')}): ` +
                 `got ${show(got)}, expected ${show(c.expected)}`);
      }
    }
  }
  return bad;
}

for (const [name, palavox, ready] of [
  ['require', viaRequire, () => viaRequire.init()],
  ['import', viaImport, () => viaImport.init()],
  ['browser build', browser, () => browser.init()],
]) {
  test(`${name}: 0 mismatches on the shared case file`, async () => {
    await ready();
    const bad = mismatches(palavox);
    assert.deepEqual(bad.slice(0, 10), [], `${bad.length} mismatches`);
  });
}

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
        e.number === 13 && e.message === 'Type mismatch');
    }
    assert.equal(palavox.findString('aXa', 'x'), 1);
  }
});

test('anything but a string, undefined or null is refused before the call', () => {
  const bad = [1, true, {}, ['a'], Symbol('s'), 10n, new String('a')];
  for (const value of bad) {
    assert.throws(() => viaRequire.trataHTML(value), TypeError);
    assert.throws(() => viaRequire.trataHTML('a', value), TypeError);
    assert.throws(() => viaRequire.findString('a', value), TypeError);
    assert.throws(() => viaRequire.findString('a', 'a', value), TypeError);
    assert.throws(() => viaRequire.removerAcentuacao(value), TypeError);
  }
  assert.equal(viaRequire.trataHTML(undefined), '');
  assert.equal(viaRequire.removerAcentuacao(null), '');
});

// ------------------------------------------ long texts, memory growth, limits

// Folding and counting work unit by unit, so a case repeated n times gives its
// result repeated n times. Sizes cross the areas kept between calls (1 Mi units)
// and make WebAssembly memory grow, which detaches every view the binding holds.
test('long texts: a case repeated gives its result repeated', () => {
  const fold = cases.filter((c) => c.method === 'RemoverAcentuacao' && c.args[0].length > 8);
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
    }
  }
});

// A result past what 32-bit memory can address: out of memory, and nothing overwritten.
test('a result too large for WebAssembly memory fails with 7', () => {
  const target = 't'.repeat((1 << 22) + 5);
  const links = 'http '.repeat(1025);
  for (const palavox of [viaRequire, browser]) {
    assert.throws(() => palavox.trataHTML(links, target), { name: 'PalavoxError', number: 7 });
    assert.equal(palavox.trataHTML('a http://b', '_top'),
      'a <a href="http://b" target="_top">http://b</a>');
  }
});
