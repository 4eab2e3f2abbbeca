// The engine module under Node.js: every golden deck gives the golden report,
// pd.dat and exit status byte for byte (the references were computed
// independently of this program; see tests/data/golden/README.md).
//   node --no-experimental-fetch --test web/tests/engine.test.cjs
// BTCFIT_WEB_DIR: the built page (default build-wasm/web).
'use strict';
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const webDir = process.env.BTCFIT_WEB_DIR || path.join(root, 'build-wasm', 'web');
const goldenDir = path.join(root, 'tests', 'data', 'golden');
const createBtcfitEngine = require(path.join(webDir, 'btcfit-engine.js'));

const decks = fs.readdirSync(goldenDir).filter((d) => fs.existsSync(path.join(goldenDir, d, 'deck')));

test('the golden decks give the golden results', async (t) => {
  assert.ok(decks.length >= 9, 'golden decks found: ' + decks.length);
  // One module for all decks, as the page keeps one: each run starts afresh.
  const engine = await createBtcfitEngine();
  for (const name of decks) {
    await t.test(name, () => {
      const dir = path.join(goldenDir, name);
      const lines = [];
      const r = engine.fitDeck(fs.readFileSync(path.join(dir, 'deck')), (line) => lines.push(line));
      assert.ok(Buffer.from(r.reportBytes).equals(fs.readFileSync(path.join(dir, 'report.out'))),
                'report.out differs');
      const pdPath = path.join(dir, 'pd.dat');
      if (fs.existsSync(pdPath)) {
        assert.ok(r.pdBytes !== null, 'pd.dat not written');
        assert.ok(Buffer.from(r.pdBytes).equals(fs.readFileSync(pdPath)), 'pd.dat differs');
      } else {
        assert.strictEqual(r.pd, null, 'pd.dat written');
      }
      const status = Number(fs.readFileSync(path.join(dir, 'status'), 'utf8').trim());
      assert.strictEqual(r.status, status);
      // The lines passed on as they were written are the report itself.
      assert.strictEqual(lines.join(''), r.report);
      if (status === 0) {
        assert.strictEqual(r.diagnostic, '');
      } else {
        assert.match(r.diagnostic, /^btcfit: /);
      }
    });
  }
});

test('a deck that cannot be read names the unit, the file and the record', async () => {
  const engine = await createBtcfitEngine();
  const r = engine.fitDeck('         1\n         2         x\n');
  assert.notStrictEqual(r.status, 0);
  assert.match(r.diagnostic, /unit 5 \(deck\.in\).*record 2/);
});

test('the deck written for a problem reads back to the same fit', async () => {
  const engine = await createBtcfitEngine();
  const example = fs.readFileSync(path.join(goldenDir, 'example', 'deck'), 'utf8');
  const w = engine.writeDeck({
    model: 2, dataForm: 1, listing: 1, echo: true,
    coefficients: [
      { name: 'V', initial: 25, lower: 1, upper: 100, varied: true },
      { name: 'D', initial: 30, lower: 1, upper: 500, varied: true },
      { name: 'R', initial: 1.5, lower: 1, upper: 10, varied: true },
      { name: 'T0', initial: 2, lower: 0, upper: 5, varied: false },
      { name: 'MU', initial: 0, lower: 0, upper: 0, varied: false },
      { name: 'GAMMA', initial: 0, lower: 0, upper: 0, varied: false },
    ],
    ci: 0, c0: 1, pulses: [],
    observations: [
      { concentration: 0.05, distance: 30, time: 1 },
      { concentration: 0.62, distance: 30, time: 2 },
      { concentration: 0.91, distance: 30, time: 3 },
    ],
  });
  assert.ok(w.deck, w.error);
  // The same problem as the example deck: the same report byte for byte.
  const a = engine.fitDeck(w.deck).report;
  const b = engine.fitDeck(example).report;
  assert.strictEqual(a, b);
});
