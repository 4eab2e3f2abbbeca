// The engine's functions for the page's worker and for Node.js, added to the
// module (Emscripten --post-js: FS and TTY are the module's file system).

// report.out: a character device whose bytes are collected here, so that
// every record reaches the page as soon as it is written (the device counts
// as a terminal, so the C library passes each line on at its end).
var reportCollector = { bytes: new Uint8Array(1 << 16), length: 0, lineStart: 0, onLine: null };

function reportPut(byte) {
  var c = reportCollector;
  if (c.length === c.bytes.length) {
    var grown = new Uint8Array(c.bytes.length * 2);
    grown.set(c.bytes);
    c.bytes = grown;
  }
  c.bytes[c.length++] = byte;
  if (byte === 10) {
    if (c.onLine) c.onLine(textOf(c.bytes.subarray(c.lineStart, c.length)));
    c.lineStart = c.length;
  }
}

function textOf(bytes) {
  return new TextDecoder('utf-8').decode(bytes);
}

var reportDeviceReady = false;

function prepareReportDevice() {
  if (reportDeviceReady) return;
  var dev = FS.makedev(250, 0);
  TTY.register(dev, {
    put_char: function (tty, value) { if (value !== null) reportPut(value); },
    flush: function (tty) {},
  });
  FS.mkdev('report.out', dev);
  reportDeviceReady = true;
}

function readIfPresent(path) {
  if (!FS.analyzePath(path).exists) return null;
  var bytes = FS.readFile(path);
  FS.unlink(path);
  return bytes;
}

// Runs the console program on deckText (a string, written as UTF-8) and
// returns {report, pd, status, diagnostic, reportBytes, pdBytes}: the report
// and pd.dat as the program writes them (pd null when not written), its exit
// status and its diagnostic line ('' when none). onLine, if given, receives
// each report line (with its CR LF) as soon as it is written.
Module['fitDeck'] = function (deckText, onLine) {
  prepareReportDevice();
  FS.writeFile('deck.in', typeof deckText === 'string' ? new TextEncoder().encode(deckText) : deckText);
  readIfPresent('pd.dat');
  readIfPresent('diagnostic.txt');
  reportCollector.length = 0;
  reportCollector.lineStart = 0;
  reportCollector.onLine = onLine || null;
  var status;
  try {
    status = _btcfit_run_deck();
  } finally {
    reportCollector.onLine = null;
  }
  var c = reportCollector;
  var reportBytes = c.bytes.slice(0, c.length);
  var pdBytes = readIfPresent('pd.dat');
  var diag = readIfPresent('diagnostic.txt');
  var diagnostic = diag === null ? '' : textOf(diag).replace(/\n+$/, '');
  return {
    report: textOf(reportBytes),
    pd: pdBytes === null ? null : textOf(pdBytes),
    status: status,
    diagnostic: diagnostic,
    reportBytes: reportBytes,
    pdBytes: pdBytes,
  };
};

function withDoubles(arrays, body) {
  var ptrs = arrays.map(function (a) {
    var p = _malloc(Math.max(8, a.length * 8));
    HEAPF64.set(a, p >> 3);
    return p;
  });
  try {
    return body(ptrs);
  } finally {
    ptrs.forEach(function (p) { _free(p); });
  }
}

function message() {
  var m = readIfPresent('message.txt');
  return m === null ? '' : textOf(m);
}

// The deck of a problem described by plain values (the page's form):
// {model, dataForm, listing, echo, coefficients: [{name, initial, lower,
// upper, varied}], ci, c0, pulses: [{time, value}], observations:
// [{concentration, distance, time}]}. Returns {deck} or {error}.
Module['writeDeck'] = function (p) {
  var values = [], varied = [];
  p.coefficients.forEach(function (c) {
    values.push(c.initial, c.lower, c.upper);
    varied.push(c.varied ? 1 : 0);
  });
  var pulses = [];
  p.pulses.forEach(function (q) { pulses.push(q.time, q.value); });
  var obs = [];
  p.observations.forEach(function (o) { obs.push(o.concentration, o.distance, o.time); });
  var names = p.coefficients.map(function (c) { return c.name; }).join('\n');
  var variedPtr = _malloc(4 * Math.max(1, varied.length));
  HEAP32.set(varied, variedPtr >> 2);
  try {
    return withDoubles([values, pulses, obs], function (ptrs) {
      var rc = Module['ccall']('btcfit_write_deck', 'number',
        ['number', 'number', 'number', 'number', 'string', 'number', 'number', 'number', 'number',
         'number', 'number', 'number', 'number'],
        [p.model, p.dataForm, p.listing, p.echo ? 1 : 0, names, ptrs[0], variedPtr, p.ci, p.c0,
         p.pulses.length, ptrs[1], p.observations.length, ptrs[2]]);
      if (rc !== 0) return { error: message() };
      var deck = textOf(FS.readFile('form-deck.in'));
      FS.unlink('form-deck.in');
      return { deck: deck };
    });
  } finally {
    _free(variedPtr);
  }
};

// The model's concentrations at the points (distances[i], times[i]) for the
// coefficients given, for the problem of the deck last fitted. Returns
// {values} or {error}.
Module['curve'] = function (coefficients, distances, times) {
  var n = times.length;
  return withDoubles([coefficients, distances, times, new Float64Array(n)], function (ptrs) {
    var rc = _btcfit_curve(ptrs[0], n, ptrs[1], ptrs[2], ptrs[3]);
    if (rc !== 0) return { error: message() };
    return { values: Array.from(HEAPF64.subarray(ptrs[3] >> 3, (ptrs[3] >> 3) + n)) };
  });
};

// {model, coefficients: [{name, varied}], observations: [{concentration, distance, time}]} of the
// deck last fitted, or {error}.
Module['describeDeck'] = function () {
  if (_btcfit_describe_deck() !== 0) return { error: message() };
  var lines = textOf(readIfPresent('deck-summary.txt')).split('\n');
  var model = Number(lines[0]), n = Number(lines[1]);
  var coefficients = lines.slice(2, 2 + n).map(function (l) {
    var parts = l.split('\t');
    return { name: parts[0], varied: parts[1] === '1' };
  });
  var count = Number(lines[2 + n]);
  var observations = lines.slice(3 + n, 3 + n + count).map(function (l) {
    var v = l.split(' ').map(Number);
    return { concentration: v[0], distance: v[1], time: v[2] };
  });
  return { model: model, coefficients: coefficients, observations: observations };
};

// The model's own names of its coefficients, deck order, or {error}.
Module['coefficientNames'] = function (model) {
  if (_btcfit_coefficient_names(model) !== 0) return { error: message() };
  return { names: textOf(readIfPresent('names.txt')).split('\n').filter(function (n) { return n !== ''; }) };
};
