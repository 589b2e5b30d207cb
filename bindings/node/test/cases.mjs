// The shared case file (palavox_cases.txt, beside this file once the package
// is built) and what a build of the package gives for each of its rows. No
// Node.js API, so the browser check runs it as it is.

const ESCAPES = { '\\': '\\', t: '\t', n: '\n', r: '\r', 0: '\0' };
const unescape = (field) => field.replace(/\\(.)/g, (_, c) => ESCAPES[c]);
const ARITY = { TrataHTML: 2, FindString: 3, RemoverAcentuacao: 1 };

function fail(message) {
  throw new Error('case file: ' + message);
}

// `bytes`: the file as it is, UTF-16LE with a byte order mark. Lone surrogates
// are kept, which no TextDecoder would do.
export function parseCases(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  if (view.getUint16(0, true) !== 0xfeff) fail('no byte order mark');
  const units = [];
  for (let i = 2; i + 1 < bytes.byteLength; i += 2) units.push(view.getUint16(i, true));
  let whole = '';
  for (let i = 0; i < units.length; i += 8192) {
    whole += String.fromCharCode.apply(null, units.slice(i, i + 8192));
  }
  const cases = [];
  whole.split('\n').forEach((line, i) => {
    if (line === '' || line.startsWith('#')) return;
    const [method, ...fields] = line.split('\t');
    if (fields.length !== ARITY[method] + 1) fail(`line ${i + 2}: field count`);
    const expected = fields.pop();
    cases.push({ line: i + 2, method, args: fields.map(unescape),
      expected: method === 'FindString' ? expected : unescape(expected) });
  });
  for (const method of Object.keys(ARITY)) {
    if (cases.filter((c) => c.method === method).length < 50) fail(`too few rows for ${method}`);
  }
  return cases;
}

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

const show = (s) => JSON.stringify(s);

// Every case, and where the optional argument is empty, the same call with it
// left out and with null: all three must give the case's result.
export function mismatches(palavox, cases) {
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
