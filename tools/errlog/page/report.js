// errlog report: the table of entries. Reads the inline data block, filters, sorts and pages
// it. Every text from the logs goes into the page as textContent, never as markup.
(function () {
  'use strict';
  var PAGE = 100;
  var D = JSON.parse(document.getElementById('report-data').textContent);
  var S = D.strings, n = D.code.length;
  var KINDS = ['system', 'user', 'other'];
  var $ = function (id) { return document.getElementById(id); };

  // Per entry: its stamp in seconds (NaN when the stored one cannot be read).
  var T = new Float64Array(n), raw = {}, cur = D.t0;
  for (var i = 0; i < n; i++) {
    var v = D.t[i];
    if (typeof v === 'number') { cur -= v; T[i] = cur; } else { T[i] = NaN; raw[i] = v; }
  }
  var logInst = new Int32Array(D.logs.length), logKind = new Int8Array(D.logs.length);
  for (i = 0; i < D.logs.length; i++) { logInst[i] = D.logs[i][1]; logKind[i] = D.logs[i][2]; }

  function stampText(i) {
    if (isNaN(T[i])) return raw[i] + ' (unreadable)';
    return new Date(T[i] * 1000).toISOString().slice(0, 19).replace('T', ' ');
  }
  function number(x) { return x.toLocaleString('en-US'); }

  // Rank of each string in plain code-point order, for sorting by a text column.
  var rank = null;
  function ranks() {
    if (rank) return rank;
    var order = S.map(function (_, k) { return k; });
    order.sort(function (a, b) { return S[a] < S[b] ? -1 : S[a] > S[b] ? 1 : 0; });
    rank = new Int32Array(S.length);
    order.forEach(function (k, r) { rank[k] = r; });
    return rank;
  }
  function keyOf(key) {
    var r = key === 'code' ? null : ranks();
    switch (key) {
      case 'code': return function (i) { return D.code[i]; };
      case 'text': return function (i) { return r[D.text[i]]; };
      case 'comp': return function (i) { return r[D.comp[i]]; };
      case 'inst': return function (i) { return r[logInst[D.log[i]]]; };
      case 'kind': return function (i) { return logKind[D.log[i]]; };
      case 'src': return function (i) { return r[D.src[i]]; };
    }
  }

  // The choices of the component filter and the instrument names.
  (function fill() {
    var comps = {}, insts = {};
    for (var i = 0; i < n; i++) if (D.code[i] >= 0) comps[D.comp[i]] = 1;
    for (i = 0; i < D.logs.length; i++) insts[logInst[i]] = 1;
    var sel = $('f-component');
    Object.keys(comps).map(Number).sort(function (a, b) { return S[a] < S[b] ? -1 : 1; })
      .forEach(function (k) {
        var o = document.createElement('option');
        o.value = String(k); o.textContent = S[k] === '' ? '(blank)' : S[k];
        sel.appendChild(o);
      });
    var list = $('instrument-names');
    Object.keys(insts).map(Number).sort(function (a, b) { return S[a] < S[b] ? -1 : 1; })
      .forEach(function (k) {
        var o = document.createElement('option');
        o.value = S[k];
        list.appendChild(o);
      });
  })();

  var shown = new Int32Array(n), count = 0, page = 0, sortKey = 'time';
  var sortDir = D.oldestFirst ? 1 : -1;

  // Which strings hold needle (lower case), as a flag per string; null when no needle.
  function matching(needle) {
    if (!needle) return null;
    var m = new Uint8Array(S.length);
    for (var k = 0; k < S.length; k++) if (S[k].toLowerCase().indexOf(needle) >= 0) m[k] = 1;
    return m;
  }

  function apply() {
    var codes = null, text = $('f-code').value.trim();
    if (text) {
      codes = {};
      text.split(/[\s,]+/).forEach(function (c) { if (/^\d+$/.test(c)) codes[Number(c)] = 1; });
    }
    var comp = $('f-component').value === '' ? -1 : Number($('f-component').value);
    var kind = $('f-kind').value === '' ? -1 : Number($('f-kind').value);
    var inText = matching($('f-text').value.trim().toLowerCase());
    var inInst = matching($('f-instrument').value.trim().toLowerCase());
    count = 0;
    for (var i = 0; i < n; i++) {
      if (codes && !codes[D.code[i]]) continue;
      if (comp >= 0 && D.comp[i] !== comp) continue;
      var log = D.log[i];
      if (kind >= 0 && logKind[log] !== kind) continue;
      if (inText && !inText[D.text[i]]) continue;
      if (inInst && !inInst[logInst[log]]) continue;
      shown[count++] = i;
    }
    sort();
  }

  function sort() {
    var part = shown.subarray(0, count);
    if (sortKey === 'time') {
      // The order the entries came in (newest first, or oldest first), or its reverse.
      part.sort();
      if ((sortDir > 0) !== D.oldestFirst) part.reverse();
    } else {
      var key = keyOf(sortKey), k = new Float64Array(n), dir = sortDir;
      for (var j = 0; j < count; j++) k[part[j]] = key(part[j]);
      part.sort(function (a, b) { return (k[a] - k[b]) * dir || a - b; });
    }
    document.querySelectorAll('#entries-table th').forEach(function (th) {
      if (th.dataset.key === sortKey)
        th.setAttribute('aria-sort', sortDir > 0 ? 'ascending' : 'descending');
      else th.removeAttribute('aria-sort');
    });
    page = 0;
    render();
  }

  function cell(tr, text, cls, title) {
    var td = document.createElement('td');
    td.textContent = text;
    if (cls) td.className = cls;
    if (title) td.title = title;
    tr.appendChild(td);
  }

  function render() {
    var pages = Math.max(1, Math.ceil(count / PAGE));
    page = Math.min(Math.max(page, 0), pages - 1);
    var body = $('entries-body'), rows = document.createDocumentFragment();
    var from = page * PAGE, to = Math.min(count, from + PAGE);
    for (var j = from; j < to; j++) {
      var i = shown[j], log = D.log[i], tr = document.createElement('tr');
      tr.dataset.entry = String(i);
      cell(tr, stampText(i), 'time');
      cell(tr, D.code[i] < 0 ? 'overflow' : String(D.code[i]), 'num code');
      cell(tr, S[D.text[i]], 'text');
      cell(tr, S[D.comp[i]] || '-', 'comp');
      cell(tr, S[logInst[log]], 'inst');
      cell(tr, KINDS[logKind[log]], 'kind', S[D.logs[log][0]]);
      cell(tr, S[D.src[i]] || '-', 'src');
      rows.appendChild(tr);
    }
    body.replaceChildren(rows);
    var status = $('table-status');
    status.dataset.matching = String(count);
    status.textContent = count === 0 ? 'No entry matches (of ' + number(n) + ')' :
      'Entries ' + number(from + 1) + '\u2013' + number(to) + ' of ' + number(count) +
      (count === n ? '' : ' matching (of ' + number(n) + ')') +
      ', page ' + number(page + 1) + ' of ' + number(pages);
    $('p-first').disabled = $('p-prev').disabled = page === 0;
    $('p-next').disabled = $('p-last').disabled = page >= pages - 1;
  }

  var timer = 0;
  function later() { clearTimeout(timer); timer = setTimeout(apply, 150); }
  ['f-code', 'f-instrument', 'f-text'].forEach(function (id) { $(id).addEventListener('input', later); });
  ['f-component', 'f-kind'].forEach(function (id) { $(id).addEventListener('change', apply); });
  $('entry-filters').addEventListener('reset', function () { setTimeout(apply, 0); });
  $('p-first').addEventListener('click', function () { page = 0; render(); });
  $('p-prev').addEventListener('click', function () { page--; render(); });
  $('p-next').addEventListener('click', function () { page++; render(); });
  $('p-last').addEventListener('click', function () { page = 1e9; render(); });
  document.querySelectorAll('#entries-table th').forEach(function (th) {
    th.querySelector('button').addEventListener('click', function () {
      var key = th.dataset.key;
      sortDir = key === sortKey ? -sortDir : (key === 'time' ? -1 : 1);
      sortKey = key;
      sort();
    });
  });
  // A code in the list of frequent codes shows its entries.
  document.querySelectorAll('a.code-link').forEach(function (a) {
    a.addEventListener('click', function () {
      $('f-code').value = a.closest('tr').dataset.code;
      apply();
    });
  });
  apply();
  document.body.dataset.ready = 'true';
})();
