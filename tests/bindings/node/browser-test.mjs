// The package's browser build in a real headless Chromium: the page imports
// "palavox" through the file the installed package names under its "browser"
// condition, and runs the shared case file and the package's error rules there.
//   node browser-test.mjs <project>   (a project with palavox installed and test/ copied in)
import { createServer } from 'node:http';
import { readFile, mkdtemp, rm } from 'node:fs/promises';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const project = path.resolve(process.argv[2]);
// Every wait is for a state (the browser up, the page loaded, its outcome set);
// this deadline is only a fail-safe, each step takes a few seconds at most here.
const FAIL_SAFE = 300000;
const root = path.join(path.dirname(fileURLToPath(import.meta.url)), '..', '..', '..');
const { chromium } = createRequire(path.join(root, 'bindings', 'node', 'package.json'))('playwright-core');

const manifest = JSON.parse(await readFile(path.join(project, 'node_modules', 'palavox', 'package.json'), 'utf8'));
const entry = '/node_modules/palavox/' + manifest.exports['.'].browser.replace(/^\.\//, '');

// Runs in the page; its outcome goes to window.outcome.
const check = `
import { parseCases, mismatches } from '/test/cases.mjs';
import palavox, { init, findString, trataHTML, removerAcentuacao, PalavoxError } from 'palavox';
const problems = [];
const expect = (ok, what) => { if (!ok) problems.push(what); };
try {
  let early = null;
  try { removerAcentuacao('a'); } catch (e) { early = e; }
  expect(early instanceof Error && !(early instanceof PalavoxError), 'a call before init() throws');
  await init();
  const bytes = new Uint8Array(await (await fetch('/test/palavox_cases.txt')).arrayBuffer());
  const cases = parseCases(bytes);
  problems.push(...mismatches(palavox, cases).slice(0, 10));
  let error = null;
  try { findString(null, 'a'); } catch (e) { error = e; }
  expect(error instanceof PalavoxError && error.number === 13 && error.message === 'Type mismatch', 'error 13');
  let typeError = null;
  try { trataHTML('a', 5); } catch (e) { typeError = e; }
  expect(typeError instanceof TypeError && typeError.message.includes('target'), 'TypeError naming target');
  const long = 'Ação, http://a/b '.repeat(200000);
  expect(findString(trataHTML(long), 'href') === 200000, 'a long text grows memory');
  expect(removerAcentuacao(long) === 'Acao, http   a b '.repeat(200000), 'folding after growth');
  window.outcome = { cases: cases.length, problems };
} catch (e) {
  window.outcome = { cases: 0, problems: [String(e && e.stack || e)] };
}
`;
const page = `<!doctype html>
<script type="importmap">${JSON.stringify({ imports: { palavox: entry } })}</script>
<script type="module">${check}</script>`;

const types = { '.mjs': 'text/javascript', '.js': 'text/javascript', '.txt': 'application/octet-stream' };
const server = createServer(async (request, response) => {
  const url = new URL(request.url, 'http://127.0.0.1');
  if (url.pathname === '/') {
    response.writeHead(200, { 'content-type': 'text/html; charset=utf-8' }).end(page);
    return;
  }
  const file = path.join(project, path.normalize(decodeURIComponent(url.pathname)));
  if (!file.startsWith(project + path.sep)) {
    response.writeHead(403).end();
    return;
  }
  try {
    const body = await readFile(file);
    response.writeHead(200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' }).end(body);
  } catch {
    response.writeHead(404).end();
  }
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
const profile = await mkdtemp(path.join(tmpdir(), 'palavox-chromium-'));
// A new empty profile; headless and without the sandbox, which root cannot have.
const began = Date.now();
const browser = await chromium.launchPersistentContext(profile, {
  executablePath: '/usr/bin/chromium',
  headless: true,
  timeout: FAIL_SAFE,
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync'],
});
let failed = true;
try {
  const launched = Date.now();
  const tab = await browser.newPage();
  tab.setDefaultTimeout(FAIL_SAFE);
  const errors = [];
  // An error the page does not catch ends the wait at once.
  const uncaught = new Promise((resolve) => tab.on('pageerror', (e) => {
    errors.push(String(e));
    resolve();
  }));
  await tab.goto(`http://127.0.0.1:${server.address().port}/`);
  const done = tab.waitForFunction(() => window.outcome !== undefined);
  done.catch(() => {});  // left pending when an uncaught error came first
  await Promise.race([done, uncaught]);
  const ran = Date.now();
  const outcome = await tab.evaluate(() => window.outcome ?? { cases: 0, problems: [] });
  const problems = [...errors, ...outcome.problems];
  const agent = await tab.evaluate(() => navigator.userAgent.match(/Chrome\/[\d.]+/)[0]);
  console.log(`browser build in ${agent}: ${outcome.cases} cases, ${problems.length} problems` +
    ` (browser up in ${(launched - began) / 1000} s, page done ${(ran - launched) / 1000} s later)`);
  for (const p of problems) console.log('  ' + p);
  failed = problems.length !== 0 || outcome.cases === 0;
} finally {
  await browser.close();
  server.close();
  await rm(profile, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
