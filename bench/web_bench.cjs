// The page's engine against the native console program, and the page's load:
//   node bench/web_bench.cjs [--runs N] [deck ...]
// For each reference deck (the golden decks that fit, or those named): the
// processor time of the native program on one core (taskset -c 0, so one
// thread) and of the WebAssembly module under Node.js, best of N runs each
// (default 1), and their ratio; then the .wasm size (plain and gzip -9) and the time from
// navigation to a ready engine in headless Chromium from a local server
// (best and median of 5 loads). Needs build/btcfit and build-wasm/web.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { execFileSync } = require('node:child_process');

const root = path.resolve(__dirname, '..');
const webDir = process.env.BTCFIT_WEB_DIR || path.join(root, 'build-wasm', 'web');
const native = process.env.BTCFIT_NATIVE || path.join(root, 'build', 'btcfit');
const goldenDir = path.join(root, 'tests', 'data', 'golden');

const args = process.argv.slice(2);
let runs = 1;
const named = [];
for (let i = 0; i < args.length; ++i) {
  if (args[i] === '--runs') runs = Number(args[++i]);
  else named.push(args[i]);
}
const decks = named.length > 0 ? named : fs.readdirSync(goldenDir).filter((d) =>
  fs.existsSync(path.join(goldenDir, d, 'deck')) &&
  fs.readFileSync(path.join(goldenDir, d, 'status'), 'utf8').trim() === '0');

// Processor seconds (user + system) of f in this process: on a machine
// shared with other work, wall-clock times would measure the others too.
function seconds(f) {
  const t = process.cpuUsage();
  f();
  const d = process.cpuUsage(t);
  return (d.user + d.system) / 1e6;
}

// Processor seconds of the native program on one core, from bash's time.
function nativeSeconds(dir) {
  const out = execFileSync('bash', ['-c',
    'TIMEFORMAT=%U+%S; { time taskset -c 0 "$0" < replies > /dev/null 2>&1; } 2>&1', native],
    { cwd: dir, encoding: 'utf8' });
  return out.trim().split('+').map(Number).reduce((a, b) => a + b, 0);
}

function best(f) {
  let b = Infinity;
  for (let i = 0; i < runs; ++i) b = Math.min(b, seconds(f));
  return b;
}

async function pageReady() {
  const { serve } = require(path.join(root, 'web', 'tests', 'serve.cjs'));
  const { launch } = require(path.join(root, 'web', 'tests', 'browser.cjs'));
  const server = await serve(webDir);
  const browser = await launch();
  const times = [];
  try {
    for (let i = 0; i < 5; ++i) {
      const page = await browser.newPage();
      await page.goto(server.url);
      // Milliseconds from the start of the navigation to the engine's ready.
      times.push(await page.evaluate(() => window.btcfit.ready().then(() => performance.now())));
      await page.close();
    }
  } finally {
    await browser.close();
    await server.close();
  }
  times.sort((a, b) => a - b);
  return { best: times[0], median: times[2] };
}

(async () => {
  const createBtcfitEngine = require(path.join(webDir, 'btcfit-engine.js'));
  // Node.js would fetch the .wasm as a URL while fetch is defined; without
  // it the module reads the file. playwright-core needs fetch, so it is
  // hidden only while the module loads.
  const fetchOfNode = globalThis.fetch;
  globalThis.fetch = undefined;
  const engine = await createBtcfitEngine();
  globalThis.fetch = fetchOfNode;
  console.log(`runs per deck: ${runs} (best taken)`);
  console.log('processor seconds         native 1 core   wasm (node)   ratio');
  for (const name of decks) {
    const deck = fs.readFileSync(path.join(goldenDir, name, 'deck'));
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'btcfit-bench-'));
    fs.writeFileSync(path.join(dir, 'deck.in'), deck);
    fs.writeFileSync(path.join(dir, 'replies'), 'deck.in\nreport.out\n');
    let t_native = Infinity;
    for (let i = 0; i < runs; ++i) t_native = Math.min(t_native, nativeSeconds(dir));
    fs.rmSync(dir, { recursive: true, force: true });
    let same = true;
    const t_wasm = best(() => {
      const r = engine.fitDeck(deck);
      same = same && Buffer.from(r.reportBytes).equals(fs.readFileSync(path.join(goldenDir, name, 'report.out')));
    });
    console.log(`${name.padEnd(26)}${t_native.toFixed(2).padStart(10)} s${t_wasm.toFixed(2).padStart(12)} s` +
                `${(t_wasm / t_native).toFixed(1).padStart(8)}x${same ? '' : '  REPORT DIFFERS'}`);
  }
  const wasm = fs.readFileSync(path.join(webDir, 'btcfit-engine.wasm'));
  const js = fs.readFileSync(path.join(webDir, 'btcfit-engine.js'));
  console.log(`btcfit-engine.wasm: ${wasm.length} bytes, ${zlib.gzipSync(wasm, { level: 9 }).length} gzip -9; ` +
              `btcfit-engine.js: ${js.length} bytes, ${zlib.gzipSync(js, { level: 9 }).length} gzip -9`);
  const ready = await pageReady();
  console.log(`page ready (navigation to engine ready, 5 loads): best ${ready.best.toFixed(0)} ms, ` +
              `median ${ready.median.toFixed(0)} ms`);
})().catch((err) => { console.error(err); process.exit(1); });
