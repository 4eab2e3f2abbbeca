// The page: input (a deck, or a data file with the form that writes a deck),
// the fit in the engine's worker with its progress, and the results. For
// scripts and tests: window.btcfit.fitDeck(deckText), a promise of
// {report, pd, status, diagnostic} exactly as the console program gives them.
'use strict';

const $ = (id) => document.getElementById(id);

// ---------------------------------------------------------------- worker --

// The engine's worker, and a spare one loaded beside it, so that a
// cancelled fit is followed at once by a working engine, offline too.
let worker = null;
let spare = null;
let engineReady = null;
const pending = new Map();
let nextId = 1;

function spawnWorker() {
  const w = new Worker('worker.js');
  let resolveReady, rejectReady;
  const ready = new Promise((res, rej) => { resolveReady = res; rejectReady = rej; });
  w.onmessage = (event) => {
    const m = event.data;
    if (m.kind === 'ready') return resolveReady();
    if (m.kind === 'broken') return rejectReady(new Error(m.error));
    const p = pending.get(m.id);
    if (!p) return;
    if (m.kind === 'line') {
      if (p.onLine) p.onLine(m.line);
    } else {
      pending.delete(m.id);
      if (m.kind === 'done') p.resolve(m.result);
      else p.reject(new Error(m.error));
    }
  };
  w.onerror = (event) => {
    const err = new Error(event.message || 'the engine stopped');
    rejectReady(err);
    if (w !== worker) return;
    for (const p of pending.values()) p.reject(err);
    pending.clear();
  };
  return { w, ready };
}

function startWorker() {
  const next = spare || spawnWorker();
  spare = null;
  worker = next.w;
  engineReady = next.ready;
  engineReady.then(() => {
    setEngineState('Engine ready.', false);
    // The spare is loaded once this one is ready, so as not to delay it.
    if (spare === null && worker === next.w) {
      spare = spawnWorker();
      spare.ready.catch(() => {});  // reported if it is ever used
    }
  }, (err) => setEngineState('The engine could not start: ' + err.message, true));
}

function request(kind, payload, onLine) {
  return engineReady.then(() => new Promise((resolve, reject) => {
    const id = nextId++;
    pending.set(id, { resolve, reject, onLine });
    worker.postMessage(Object.assign({ id, kind }, payload));
  }));
}

class Cancelled extends Error {}

// Ends a running fit at once: the worker is stopped and a fresh one started.
function cancelFit() {
  worker.terminate();
  for (const p of pending.values()) p.reject(new Cancelled('cancelled'));
  pending.clear();
  startWorker();
}

function setEngineState(text, bad) {
  const e = $('engine-state');
  e.textContent = text;
  e.classList.toggle('bad', bad);
}

// The console program's results for one deck.
function fitDeck(deckText, onLine) {
  return request('fit', { deck: deckText }, onLine).then((r) => ({
    report: r.report, pd: r.pd, status: r.status, diagnostic: r.diagnostic,
    reportBytes: r.reportBytes, pdBytes: r.pdBytes,
  }));
}

window.btcfit = {
  fitDeck: (deckText) => fitDeck(deckText).then((r) =>
    ({ report: r.report, pd: r.pd, status: r.status, diagnostic: r.diagnostic })),
  ready: () => engineReady,
};

// ------------------------------------------------------- report reading --

// The progress lines (the table of the search) and the final table of a
// report, read by their columns: (I5,F10.6,nF9.5) and the observed and
// calculated concentrations.
function progressLine(line) {
  const m = /^ {0,4}(\d+) +(\S+)/.exec(line);
  if (!m || line.length < 15) return null;
  const text = line.replace(/\r?\n$/, '');
  const values = [];
  for (let at = 15; at + 9 <= text.length; at += 9) values.push(Number(text.slice(at, at + 9)));
  return { iteration: Number(m[1]), ssq: Number(text.slice(5, 15)), ssqText: text.slice(5, 15).trim(), values };
}

function readReport(report) {
  const lines = report.split('\r\n');
  const progress = [];
  const table = [];
  let state = 'echo';
  for (const line of lines) {
    if (state === 'echo' && /^ +N +SSQ/.test(line)) { state = 'progress'; continue; }
    if (state !== 'echo' && /OBSERVED C +CALCULATED C/.test(line)) { state = 'table'; continue; }
    if (state === 'progress') {
      const p = progressLine(line);
      if (p) progress.push(p);
    } else if (state === 'table') {
      const v = line.trim().split(/ +/);
      if (v.length === 2) table.push({ observed: Number(v[0]), calculated: Number(v[1]), text: v });
    }
  }
  return { progress, table };
}

// ------------------------------------------------------------- the fit --

let busy = false;

function progressTracker() {
  let inTable = false, fails = 0, lastSsq = null, shown = 0;
  const log = $('progress-lines');
  log.textContent = '';
  $('progress').value = 0;
  $('progress-text').textContent = 'starting…';
  return (line) => {
    if (/^ +N +SSQ/.test(line)) { inTable = true; log.textContent += line.replace(/\r\n$/, '\n'); return; }
    if (!inTable) return;
    const p = progressLine(line);
    if (!p) { inTable = false; return; }
    if (lastSsq !== null && p.ssqText === lastSsq) fails += 1;
    lastSsq = p.ssqText;
    log.textContent += line.replace(/\r\n$/, '\n');
    if (++shown % 4 === 0 || p.iteration < 4) log.scrollTop = log.scrollHeight;
    // The search ends after 101 outer iterations without a lower SSQ, at
    // iteration 9999, or when SSQ reaches 1e-4: an estimate of the way left.
    const done = Math.min(1, Math.max(fails / 101, p.iteration / 9999, p.ssq <= 1e-4 ? 1 : 0));
    $('progress').value = done;
    $('progress-text').textContent = `iteration ${p.iteration}, SSQ ${p.ssqText}`;
  };
}

async function runFit() {
  if (busy) return;
  const deck = $('deck-text').value;
  if (deck.trim() === '') {
    showMessage('The deck is empty: open or paste a deck, or write one with the form.');
    $('results').hidden = false;
    $('result-body').hidden = true;
    return;
  }
  busy = true;
  $('fit').disabled = true;
  $('cancel').disabled = false;
  const started = performance.now();
  try {
    const r = await fitDeck(deck, progressTracker());
    window.btcfit.lastResult = { report: r.report, pd: r.pd, status: r.status, diagnostic: r.diagnostic };
    const seconds = ((performance.now() - started) / 1000).toFixed(1);
    $('progress-lines').scrollTop = $('progress-lines').scrollHeight;
    $('progress').value = 1;
    $('progress-text').textContent = r.status === 0 ? `done in ${seconds} s` : `ended with status ${r.status}`;
    await showResults(r);
  } catch (err) {
    if (err instanceof Cancelled) {
      $('progress-text').textContent = 'cancelled';
    } else {
      $('results').hidden = false;
      $('result-body').hidden = true;
      showMessage('The engine failed: ' + err.message);
    }
  } finally {
    busy = false;
    $('fit').disabled = false;
    $('cancel').disabled = true;
  }
}

function showMessage(text) {
  const m = $('message');
  m.textContent = text;
  m.hidden = text === '';
}

function setDownload(a, bytes, type) {
  if (a.href.startsWith('blob:')) URL.revokeObjectURL(a.href);
  a.href = URL.createObjectURL(new Blob([bytes], { type }));
}

function cell(row, text, numeric) {
  const td = row.insertCell();
  td.textContent = text;
  if (numeric) td.className = 'num';
  return td;
}

async function showResults(r) {
  $('results').hidden = false;
  $('report').textContent = r.report.replace(/\r\n/g, '\n');
  setDownload($('report-download'), r.reportBytes, 'text/plain');
  $('pd-download').hidden = r.pdBytes === null;
  if (r.pdBytes !== null) setDownload($('pd-download'), r.pdBytes, 'text/plain');
  if (r.status !== 0) {
    showMessage((r.diagnostic || `The run ended with exit status ${r.status}.`) +
                '\n\nThe report below holds what was written before the run ended.');
    $('result-body').hidden = true;
    return;
  }
  showMessage('');
  $('result-body').hidden = false;
  const deck = await request('describe', {});
  const { progress, table } = readReport(r.report);
  const last = progress[progress.length - 1];

  const fitted = $('fitted').tBodies[0];
  fitted.textContent = '';
  const names = deck.error ? [] : deck.coefficients;
  last.values.forEach((v, k) => {
    const row = fitted.insertRow();
    cell(row, names[k] ? names[k].name : `#${k + 1}`);
    cell(row, Number.isFinite(v) ? v.toFixed(5) : '(too large for the report)', true);
    cell(row, names[k] && names[k].varied ? 'yes' : 'no');
  });
  $('ssq').textContent = `SSQ ${last.ssqText} after ${last.iteration} iterations.`;

  const obs = deck.error ? [] : deck.observations;
  const body = $('table').tBodies[0];
  body.textContent = '';
  const csv = ['observation,distance,time,observed,calculated,residual'];
  const rows = table.map((t, i) => {
    const o = obs[i] || { distance: NaN, time: NaN };
    const residual = t.observed - t.calculated;
    const row = body.insertRow();
    cell(row, String(i + 1), true);
    cell(row, String(o.distance), true);
    cell(row, String(o.time), true);
    cell(row, t.text[0], true);
    cell(row, t.text[1], true);
    cell(row, residual.toFixed(4), true);
    csv.push([i + 1, o.distance, o.time, t.text[0], t.text[1], residual.toFixed(4)].join(','));
    return { distance: o.distance, time: o.time, observed: t.observed, calculated: t.calculated, residual };
  });
  setDownload($('table-download'), csv.join('\r\n') + '\r\n', 'text/csv');
  await drawPlot(rows, last.values);
}

// ------------------------------------------------------------------ plot --

let charts = [];
const colours = ['#1f6feb', '#d1242f', '#1a7f37', '#9a6700', '#8250df', '#57606a'];

async function drawPlot(rows, coefficients) {
  charts.forEach((c) => c.destroy());
  charts = [];
  const box = $('plot');
  box.textContent = '';
  if (rows.length === 0) return;
  const distances = [...new Set(rows.map((r) => r.distance))].slice(0, colours.length);
  const tmax = Math.max(...rows.map((r) => r.time)) * 1.1;
  const grid = [];
  for (let i = 0; i <= 200; ++i) grid.push(tmax * i / 200);
  const xs = [...new Set(grid.concat(rows.map((r) => r.time)))].sort((a, b) => a - b);
  let curves = null;
  if (coefficients.every(Number.isFinite)) {
    const d = [], t = [];
    for (const dist of distances) for (const x of xs) { d.push(dist); t.push(x); }
    const c = await request('curve', { coefficients, distances: d, times: t });
    if (!c.error) curves = c.values;
  }
  const data = [xs];
  const series = [{ label: 'time' }];
  distances.forEach((dist, k) => {
    const colour = colours[k];
    const suffix = distances.length > 1 ? ` at ${dist}` : '';
    const observed = xs.map(() => null);
    rows.filter((r) => r.distance === dist).forEach((r) => { observed[xs.indexOf(r.time)] = r.observed; });
    data.push(observed);
    series.push({ label: 'observed' + suffix, stroke: colour, fill: colour, paths: () => null,
                  points: { show: true, size: 7, fill: colour } });
    if (curves) {
      data.push(curves.slice(k * xs.length, (k + 1) * xs.length));
      series.push({ label: 'fitted' + suffix, stroke: colour, width: 2, points: { show: false } });
    }
  });
  const width = Math.max(320, box.clientWidth || 640);
  charts.push(new uPlot({
    width, height: 280, title: 'Observed and fitted concentrations',
    scales: { x: { time: false } }, series,
    axes: [{ label: 'time' }, { label: 'concentration' }],
  }, data, box));

  const rx = [...new Set([0, tmax].concat(rows.map((r) => r.time)))].sort((a, b) => a - b);
  const rdata = [rx, rx.map(() => 0)];
  const rseries = [{ label: 'time' }, { label: 'zero', stroke: '#8c959f', width: 1, points: { show: false } }];
  distances.forEach((dist, k) => {
    const v = rx.map(() => null);
    rows.filter((r) => r.distance === dist).forEach((r) => { v[rx.indexOf(r.time)] = r.residual; });
    rdata.push(v);
    rseries.push({ label: 'residual' + (distances.length > 1 ? ` at ${dist}` : ''), stroke: colours[k],
                   paths: () => null, points: { show: true, size: 6, fill: colours[k] } });
  });
  charts.push(new uPlot({
    width, height: 170, title: 'Residuals (observed − calculated)',
    scales: { x: { time: false, range: [0, tmax] } }, series: rseries, legend: { show: false },
    axes: [{ label: 'time' }, { label: 'residual' }],
  }, rdata, box));
}

// ------------------------------------------------------ data file & form --

// Starting values of each model family's coefficients, deck order: initial
// value, varied, lower and upper bound. The names are the model's own, from
// the engine.
const startingValues = {
  equilibrium: [[25, true, 0.01, 1000], [30, true, 0.01, 1000], [1.5, true, 1, 20],
                [2, false, 0, 100], [0, false, 0, 0], [0, false, 0, 0]],
  nonequilibrium: [[25, true, 0.01, 1000], [30, true, 0.01, 1000], [1.5, true, 1, 20],
                   [2, false, 0, 100], [0.5, true, 0.01, 1], [1, true, 0.001, 100]],
  tubes: [[1, false, 0.01, 100], [0.15, true, 0.001, 10], [1.4, true, 1, 20],
          [2, false, 0, 100], [0, false, 0, 0], [0, false, 0, 0], [0.3, true, 0.01, 2]],
};

function familyOf(model) {
  return model <= 2 ? 'equilibrium' : model <= 4 ? 'nonequilibrium' : 'tubes';
}

let shownCoefficients = null;

async function fillCoefficients() {
  const model = Number($('model').value);
  const family = familyOf(model);
  const n = await request('names', { model });
  const names = n.error ? startingValues[family].map((_, k) => `C${k + 1}`) : n.names;
  const key = family + ':' + names.join(',');
  if (key === shownCoefficients) return;
  shownCoefficients = key;
  const body = $('coefficients').tBodies[0];
  body.textContent = '';
  startingValues[family].forEach(([initial, varied, lower, upper], k) => {
    const name = names[k];
    const row = body.insertRow();
    const input = (value, label) => {
      const e = document.createElement('input');
      e.type = 'text';
      e.value = String(value);
      e.setAttribute('aria-label', `${name} ${label}`);
      row.insertCell().appendChild(e);
      return e;
    };
    input(name, 'name').maxLength = 6;
    input(initial, 'initial value');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.checked = varied;
    box.setAttribute('aria-label', `${name} varied`);
    row.insertCell().appendChild(box);
    input(lower, 'lower bound');
    input(upper, 'upper bound');
  });
}

function fillPulses() {
  const n = Math.max(1, Math.min(10, Math.floor(Number($('pulse-count').value) || 1)));
  $('pulses').hidden = n === 1;
  const body = $('pulses').tBodies[0];
  while (body.rows.length > n) body.deleteRow(-1);
  while (body.rows.length < n && n > 1) {
    const row = body.insertRow();
    cell(row, String(body.rows.length), true);
    for (const label of ['time', 'value']) {
      const e = document.createElement('input');
      e.type = 'text';
      e.value = '0';
      e.setAttribute('aria-label', `pulse ${body.rows.length} ${label}`);
      row.insertCell().appendChild(e);
    }
  }
}

class InputError extends Error {}

function numberOf(text, what) {
  const t = String(text).trim();
  const v = Number(t);
  if (t === '' || !Number.isFinite(v)) throw new InputError(`${what}: "${text}" is not a number`);
  return v;
}

// Observations of a CSV or TSV text: columns time and concentration and,
// optionally, distance, found by a header row or else in that order.
function readDataFile(text, defaultDistance) {
  const lines = text.split(/\r?\n/);
  let columns = null;
  const rows = [];
  lines.forEach((raw, i) => {
    const line = raw.trim();
    if (line === '' || line.startsWith('#')) return;
    const fields = line.split(line.includes('\t') ? '\t' : line.includes(',') ? ',' : line.includes(';') ? ';' : /\s+/)
      .map((f) => f.trim().replace(/^"(.*)"$/, '$1'));
    if (columns === null) {
      if (fields.some((f) => f !== '' && !Number.isFinite(Number(f)))) {
        const find = (re) => fields.findIndex((f) => re.test(f));
        columns = { time: find(/^t(ime)?\b|time/i), concentration: find(/^c(onc)?\b|conc/i),
                    distance: find(/^(x|z|l)\b|dist|depth/i) };
        if (columns.time < 0 || columns.concentration < 0) {
          throw new InputError(`line ${i + 1}: a header row needs columns named time and concentration ` +
                               `(found: ${fields.join(', ')})`);
        }
        return;
      }
      columns = { time: 0, concentration: 1, distance: fields.length >= 3 ? 2 : -1 };
    }
    const at = (k, what) => {
      if (k >= fields.length) throw new InputError(`line ${i + 1}: no ${what} (only ${fields.length} columns)`);
      return numberOf(fields[k], `line ${i + 1}, ${what}`);
    };
    rows.push({
      time: at(columns.time, 'time'),
      concentration: at(columns.concentration, 'concentration'),
      distance: columns.distance >= 0 ? at(columns.distance, 'distance') : defaultDistance(),
    });
  });
  if (rows.length === 0) throw new InputError('the data file holds no observations');
  if (rows.length > 90) throw new InputError(`the data file holds ${rows.length} observations; at most 90 are allowed`);
  return rows;
}

function formProblem() {
  if ($('coefficients').tBodies[0].rows.length === 0) throw new InputError('the engine is not ready yet');
  const observations = readDataFile($('data-text').value, () => numberOf($('distance').value, 'distance'));
  const coefficients = [...$('coefficients').tBodies[0].rows].map((row) => {
    const [name, initial, varied, lower, upper] = [...row.cells].map((c) => c.firstChild);
    const label = name.value.trim() || '(unnamed)';
    return {
      name: name.value.trim(),
      initial: numberOf(initial.value, `${label}, initial value`),
      varied: varied.checked,
      lower: numberOf(lower.value, `${label}, lower bound`),
      upper: numberOf(upper.value, `${label}, upper bound`),
    };
  });
  const pulses = $('pulses').hidden ? [] : [...$('pulses').tBodies[0].rows].map((row, j) => ({
    time: numberOf(row.cells[1].firstChild.value, `pulse ${j + 1}, time`),
    value: numberOf(row.cells[2].firstChild.value, `pulse ${j + 1}, value`),
  }));
  return {
    model: Number($('model').value), dataForm: Number($('data-form').value), listing: 1, echo: true,
    coefficients, ci: numberOf($('ci').value, 'CI'), c0: numberOf($('c0').value, 'C0'), pulses,
    observations: observations.map((o) => ({ concentration: o.concentration, distance: o.distance, time: o.time })),
  };
}

async function writeDeckFromForm() {
  const state = $('form-state');
  state.classList.remove('bad');
  try {
    const problem = formProblem();
    const w = await request('writeDeck', { problem });
    if (w.error) throw new InputError(w.error);
    setDeck(w.deck);
    state.textContent = `Deck written: ${problem.observations.length} observations. ` +
                        'It is shown under “Input deck”.';
    return w.deck;
  } catch (err) {
    state.textContent = err.message;
    state.classList.add('bad');
    return null;
  }
}

function checkDataText() {
  const state = $('data-state');
  state.classList.remove('bad');
  if ($('data-text').value.trim() === '') { state.textContent = ''; return; }
  try {
    const rows = readDataFile($('data-text').value, () => NaN);
    state.textContent = `${rows.length} observations read.`;
  } catch (err) {
    state.textContent = err.message;
    state.classList.add('bad');
  }
}

// ---------------------------------------------------------------- wiring --

function setDeck(text) {
  $('deck-text').value = text;
  setDownload($('deck-download'), text, 'text/plain');
}

function showTab(which) {
  const deck = which === 'deck';
  $('panel-deck').hidden = !deck;
  $('panel-data').hidden = deck;
  $('tab-deck').setAttribute('aria-selected', String(deck));
  $('tab-data').setAttribute('aria-selected', String(!deck));
}

function readFileInto(input, onText) {
  input.addEventListener('change', () => {
    const f = input.files[0];
    if (f) f.text().then(onText);
  });
}

function init() {
  startWorker();
  $('tab-deck').onclick = () => showTab('deck');
  $('tab-data').onclick = () => showTab('data');
  readFileInto($('deck-file'), setDeck);
  readFileInto($('data-file'), (t) => { $('data-text').value = t; checkDataText(); });
  $('deck-text').addEventListener('input', () => setDeck($('deck-text').value));
  $('data-text').addEventListener('input', checkDataText);
  // Fetched at once, so that the example is at hand offline too.
  const example = fetch('example.in').then((r) => r.text());
  $('load-example').onclick = () => example.then(setDeck);
  $('model').onchange = fillCoefficients;
  $('pulse-count').oninput = fillPulses;
  $('write-deck').onclick = async () => { if (await writeDeckFromForm()) showTab('deck'); };
  $('fit').onclick = async () => {
    if (!$('panel-data').hidden && !(await writeDeckFromForm())) return;
    if (!$('panel-data').hidden) showTab('deck');
    runFit();
  };
  $('cancel').onclick = () => { if (busy) cancelFit(); };
  fillPulses();
  engineReady.then(() => { $('fit').disabled = false; return fillCoefficients(); }, () => {});
}

window.addEventListener('error', (event) => {
  setEngineState('Something went wrong on this page: ' + event.message, true);
});

init();
