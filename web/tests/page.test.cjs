// The page in Debian's Chromium (headless, playwright-core), served on
// 127.0.0.1 by a server that the test starts and stops:
//   - golden decks fitted through window.btcfit.fitDeck give the golden
//     report, pd.dat and exit status byte for byte (references computed
//     independently of this program, tests/data/golden/README.md);
//   - a CSV fitted through the form gives the report, and so the
//     coefficients, that the native console program gives on the deck the
//     form wrote (BTCFIT_NATIVE, default build/btcfit), and the coefficients
//     that the Python package gives on the CSV's data with the form's
//     settings (BTCFIT_PYTHONPATH, default build/python);
//   - a bad deck shows the console program's diagnostic;
//   - Cancel stops a long fit within a second, and the page fits again;
//   - once loaded, the page fits offline (after a Cancel as well);
//   - a screenshot of the results (BTCFIT_SCREENSHOT, default
//     build-wasm/web-results.png) for a person to look at.
//   node --test web/tests/page.test.cjs
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { serve } = require('./serve.cjs');
const { launch } = require('./browser.cjs');

const root = path.resolve(__dirname, '..', '..');
const webDir = process.env.BTCFIT_WEB_DIR || path.join(root, 'build-wasm', 'web');
const goldenDir = path.join(root, 'tests', 'data', 'golden');
const native = process.env.BTCFIT_NATIVE || path.join(root, 'build', 'btcfit');
const screenshot = process.env.BTCFIT_SCREENSHOT || path.join(root, 'build-wasm', 'web-results.png');
const pythonPath = process.env.BTCFIT_PYTHONPATH || path.join(root, 'build', 'python');

const golden = (name, file) => fs.readFileSync(path.join(goldenDir, name, file), 'latin1');

let server, browser, page;

test.before(async () => {
  server = await serve(webDir);
  browser = await launch();
  page = await browser.newPage();
  page.on('pageerror', (err) => console.error('page error:', err.message));
  await page.goto(server.url);
  await page.evaluate(() => window.btcfit.ready());
});

test.after(async () => {
  if (browser) await browser.close();
  if (server) await server.close();
});

// Runs the native console program on a deck in a fresh folder; its report.
function nativeReport(deck) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'btcfit-native-'));
  try {
    fs.writeFileSync(path.join(dir, 'deck.in'), deck);
    execFileSync(native, [], { cwd: dir, input: 'deck.in\nreport.out\n', stdio: ['pipe', 'ignore', 'pipe'] });
    return fs.readFileSync(path.join(dir, 'report.out'), 'latin1');
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

for (const name of ['example', 'nonequilibrium-flux', 'stochastic-pulse']) {
  test(`golden deck ${name} through window.btcfit.fitDeck`, async () => {
    const r = await page.evaluate((deck) => window.btcfit.fitDeck(deck), golden(name, 'deck'));
    assert.strictEqual(r.report, golden(name, 'report.out'));
    const pd = fs.existsSync(path.join(goldenDir, name, 'pd.dat')) ? golden(name, 'pd.dat') : null;
    assert.strictEqual(r.pd, pd);
    assert.strictEqual(r.status, Number(golden(name, 'status').trim()));
    assert.strictEqual(r.diagnostic, '');
  });
}

// The Python package's fit of the CSV text's observations (at the form's
// distance) with the model, coefficients and input of the deck that the
// form wrote: its coefficients as the report prints them (F9.5).
function pythonCoefficients(deck, csvText, distance) {
  const script = [
    'import csv, io, sys',
    'import btcfit',
    'rows = list(csv.DictReader(io.StringIO(sys.argv[2])))',
    'problem = btcfit.Problem.from_deck(sys.argv[1]).replace(',
    '    time=[float(r["time"]) for r in rows],',
    '    concentration=[float(r["concentration"]) for r in rows],',
    '    distance=[float(sys.argv[3])] * len(rows))',
    'print(" ".join(f"{v:.5f}" for v in btcfit.fit(problem, threads=1).coefficients))',
  ].join('\n');
  const out = execFileSync('/usr/bin/python3', ['-c', script, deck, csvText, String(distance)], {
    encoding: 'utf8', env: { ...process.env, PYTHONPATH: pythonPath },
  });
  return out.trim().split(' ');
}

// The example's observations as a CSV file with a header, fitted with the
// form's model 2 and its default coefficients (distance from the form).
const csv = 'time,concentration\n1.0,0.05\n2.0,0.62\n3.0,0.91\n4.0,0.97\n';

test('a CSV fitted through the form gives the console program\'s report and the Python package\'s coefficients', async () => {
  await page.click('#tab-data');
  await page.fill('#data-text', csv);
  await page.selectOption('#model', '2');
  await page.fill('#distance', '30');
  await page.click('#fit');
  await page.waitForSelector('#fitted tbody tr', { timeout: 60000 });
  await page.waitForFunction(() => document.querySelector('#progress-text').textContent.startsWith('done'));
  const deck = await page.inputValue('#deck-text');
  assert.match(deck, /^ +1\r?\n +2 +1 +1 +1 +4/, 'the deck written by the form');
  const report = await page.evaluate(() => window.btcfit.lastResult.report);
  assert.strictEqual(report, nativeReport(deck));
  // The coefficients shown are those of the report's last progress line.
  const shown = await page.$$eval('#fitted tbody tr', (rows) => rows.map((r) => r.cells[1].textContent));
  const last = report.split('\r\n').filter((l) => /^ {0,4}\d+ +\d/.test(l)).slice(-1)[0];
  for (let k = 0; k < shown.length; ++k) {
    assert.strictEqual(shown[k], last.slice(15 + 9 * k, 24 + 9 * k).trim());
  }
  // And they are the Python package's on the same data.
  assert.deepStrictEqual(shown, pythonCoefficients(deck, csv, 30).slice(0, shown.length));
  // The observed and calculated table has one row per observation.
  assert.strictEqual(await page.$$eval('#table tbody tr', (rows) => rows.length), 4);
  await page.evaluate(() => window.scrollTo(0, 0));
  await page.screenshot({ path: screenshot, fullPage: true });
});

test('a bad deck shows the console program\'s diagnostic', async () => {
  for (const name of ['bad-pulse-count', 'bad-bounds']) {
    const r = await page.evaluate((deck) => window.btcfit.fitDeck(deck), golden(name, 'deck'));
    assert.strictEqual(r.report, golden(name, 'report.out'));
    assert.strictEqual(r.status, Number(golden(name, 'status').trim()));
    assert.match(r.diagnostic, /^btcfit: /);
    await page.click('#tab-deck');
    await page.fill('#deck-text', golden(name, 'deck'));
    await page.click('#fit');
    await page.waitForSelector('#message:not([hidden])');
    const text = await page.textContent('#message');
    assert.ok(text.startsWith(r.diagnostic), `shown: ${text}`);
  }
  // An unreadable field: the message names the unit, the file and the record.
  await page.fill('#deck-text', '         1\n         2         1         1         x\n');
  await page.click('#fit');
  await page.waitForFunction(() => /record 2/.test(document.querySelector('#message').textContent));
});

test('Cancel stops a long fit within a second, and the page fits again', async () => {
  await page.click('#tab-deck');
  await page.fill('#deck-text', golden('stochastic-load', 'deck'));
  await page.click('#fit');
  await page.waitForFunction(() => document.querySelector('#progress-lines').textContent.split('\n').length > 4);
  const started = Date.now();
  await page.click('#cancel');
  await page.waitForFunction(() => document.querySelector('#progress-text').textContent === 'cancelled' &&
                                   !document.querySelector('#fit').disabled);
  const elapsed = Date.now() - started;
  assert.ok(elapsed < 1000, `cancelled after ${elapsed} ms`);
  const r = await page.evaluate((deck) => window.btcfit.fitDeck(deck), golden('example', 'deck'));
  assert.strictEqual(r.report, golden('example', 'report.out'));
});

test('once loaded, the page fits offline, after a Cancel too', async () => {
  await page.context().setOffline(true);
  try {
    await page.click('#tab-deck');
    await page.click('#load-example');
    await page.waitForFunction(() => document.querySelector('#deck-text').value.includes('GAMMA'));
    await page.click('#fit');
    await page.waitForFunction(() => document.querySelector('#progress-text').textContent.startsWith('done'));
    assert.strictEqual(await page.evaluate(() => window.btcfit.lastResult.report), golden('example', 'report.out'));
  } finally {
    await page.context().setOffline(false);
  }
});
