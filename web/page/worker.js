// The engine in a Web Worker, so that the page stays responsive while a fit
// runs. Messages in: {id, kind: 'fit' | 'writeDeck' | 'names' | 'describe' |
// 'curve', ...}; out:
// {id, kind: 'line', line} while a fit writes its report, then
// {id, kind: 'done', result} or {id, kind: 'failed', error}.
importScripts('btcfit-engine.js');

const engine = createBtcfitEngine();

onmessage = async (event) => {
  const m = event.data;
  try {
    const e = await engine;
    let result;
    if (m.kind === 'fit') {
      result = e.fitDeck(m.deck, (line) => postMessage({ id: m.id, kind: 'line', line }));
    } else if (m.kind === 'writeDeck') {
      result = e.writeDeck(m.problem);
    } else if (m.kind === 'names') {
      result = e.coefficientNames(m.model);
    } else if (m.kind === 'describe') {
      result = e.describeDeck();
    } else if (m.kind === 'curve') {
      result = e.curve(m.coefficients, m.distances, m.times);
    } else {
      throw new Error('unknown request ' + m.kind);
    }
    postMessage({ id: m.id, kind: 'done', result });
  } catch (err) {
    postMessage({ id: m.id, kind: 'failed', error: String(err && err.message ? err.message : err) });
  }
};

engine.then(() => postMessage({ kind: 'ready' }),
            (err) => postMessage({ kind: 'broken', error: String(err) }));
