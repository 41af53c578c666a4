// ----- Page layout (layout.js or its pieces): words, links, labels, outline, direction --
// Books made before layout.js existed have no data-layout attribute, so nothing is
// requested for them and they read exactly as before.

var layoutPromise = null, layoutPieces = {};

function layoutName() { return String(app.dataset.layout || '').trim(); }

// A file of a later format than this viewer knows is left alone.
function knownLayout(L) {
  return L && (L.version === 1 || L.version === 2) && Array.isArray(L.pages) && L.unit > 0 ? L : null;
}
function layoutPiece(P) { return knownLayout(P) && P.pieces > 0 && P.first >= 1 ? P : null; }

// The layout the first spread needs: the piece that holds the page opened, when the page
// says its book comes in pieces (by how many pages: the first piece is asked for by that
// size, every later one by the size the pieces declare), else the whole file, which is
// also read when the piece is missing. Later pieces join book.layout as pages are reached.
function loadLayout() {
  if (layoutPromise) return layoutPromise;
  var name = layoutName(), size = parseInt(app.dataset.layoutPieces, 10) || 0;
  if (!name) return (layoutPromise = Promise.resolve(null));
  var first = size > 0 ? pieceFirst(state.page, size) : 0;
  var piece = first ? loadData(pieceName(name, first), 'VELLUMARK_BOOK_LAYOUT') : Promise.resolve(null);
  layoutPromise = piece.then(function (P) {
    if (layoutPiece(P) && P.first === first) {
      book.layout = { version: P.version, unit: P.unit, pageCount: P.pageCount, direction: P.direction,
        pieces: P.pieces, outlineEntries: P.outlineEntries | 0, outline: [], pages: [] };
      layoutPieces[first] = Promise.resolve(addLayoutPiece(P));
      return book.layout;
    }
    return loadData(name, 'VELLUMARK_BOOK_LAYOUT').then(function (L) {
      window.VELLUMARK_BOOK_LAYOUT = L;
      book.layout = knownLayout(L);
      return book.layout;
    });
  });
  return layoutPromise;
}

function addLayoutPiece(P) {
  for (var i = 0; i < P.pages.length; i++) book.layout.pages[P.first - 1 + i] = P.pages[i];
  window.VELLUMARK_BOOK_LAYOUT = book.layout;
  return P;
}

// The layout of pages `list`, for a book in pieces (the whole file holds them all);
// the pages on show get their layers when their piece comes in.
function loadLayoutFor(list) {
  var L = book.layout;
  if (!L || !L.pieces) return Promise.resolve(L);
  var name = layoutName(), wanted = {};
  list.forEach(function (n) { if (n >= 1 && n <= book.pages) wanted[pieceFirst(n, L.pieces)] = true; });
  return Promise.all(Object.keys(wanted).map(function (key) {
    var first = +key;
    if (!layoutPieces[first]) {
      layoutPieces[first] = loadData(pieceName(name, first), 'VELLUMARK_BOOK_LAYOUT').then(function (P) {
        window.VELLUMARK_BOOK_LAYOUT = book.layout;
        if (!layoutPiece(P) || P.first !== first) return null;
        addLayoutPiece(P);
        refreshLayers();
        showPageNames();
        return P;
      });
    }
    return layoutPieces[first];
  }));
}

// The outline of a book in pieces comes in a file of its own, after the first spread.
function loadOutline() {
  var L = book.layout;
  if (!L || !L.pieces || !L.outlineEntries) return Promise.resolve(L);
  return loadData(pieceName(layoutName(), 'outline'), 'VELLUMARK_BOOK_LAYOUT').then(function (O) {
    window.VELLUMARK_BOOK_LAYOUT = book.layout;
    if (O && Array.isArray(O.outline)) L.outline = O.outline;
    return L;
  });
}

function layoutPage(n) {
  var L = book.layout;
  var p = L && L.pages[n - 1];
  if (!p || typeof p.lines !== 'string') return null;
  if (L.version === 1 && !Array.isArray(p.links)) return null;
  return p;
}

// Layout positions as fractions of the page: version 1 counts parts of the page's
// width and height, version 2 parts of a point.
function fracX(p, v) { return book.layout.version === 1 ? v / book.layout.unit : v / book.layout.unit / p.w; }
function fracY(p, v) { return book.layout.version === 1 ? v / book.layout.unit : v / book.layout.unit / p.h; }

// The numbers of a page's "lines". Version 1: pairs of base-64 digits. Version 2:
// digits from 56 up carry a number's high part (three bits each), a lower digit ends it.
var DIGITS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
function layoutNumbers(packed, version) {
  var out = [], high = 0;
  for (var i = 0; i < packed.length; i++) {
    var d = DIGITS.indexOf(packed[i]);
    if (d < 0) return null;
    if (version === 1) {
      if (i % 2) out.push(high * 64 + d); else high = d;
    } else if (d >= 56) high = high * 8 + d - 56;
    else { out.push(high * 56 + d); high = 0; }
  }
  return out;
}
// Version 2 folds differences onto 0, 1, 2, ...: 0, -1, 1, -2, ...
function unfold(n) { return n % 2 ? -(n + 1) / 2 : n / 2; }

// The words of a page (from txt.js) with their boxes (fractions of the page), by line;
// null until both files are in, or when they do not fit together.
var wordCache = {};
function pageWords(n) {
  if (wordCache[n]) return wordCache[n];
  var p = layoutPage(n), text = pageText(n);
  if (!p || !p.lines || !text || !(p.w > 0 && p.h > 0)) return null;
  var v1 = book.layout.version === 1, v = layoutNumbers(p.lines, book.layout.version);
  if (!v) return null;
  var at = 0, words = [], lines = [], bottom = 0, firstLeft = 0;
  text.split('\n').forEach(function (lineText) {
    var parts = lineText.split(/\s+/).filter(Boolean);
    if (!parts.length) return;
    // Version 1 gives edges from the page's edges; version 2 differences (see
    // docs/book-folder.md): the top below the last line, the first word's left edge
    // from the last line's first word, every other left edge from the word before.
    var top = v1 ? v[at] : bottom + unfold(v[at]), height = v[at + 1], right = 0, line = [];
    at += 2;
    bottom = top + height;
    parts.forEach(function (w, i) {
      var left = v1 ? v[at] : unfold(v[at]) + (i ? right : firstLeft);
      if (!v1 && !i) firstLeft = left;
      right = left + v[at + 1];
      var word = { text: w, x: fracX(p, left), y: fracY(p, top), w: fracX(p, v[at + 1]), h: fracY(p, height) };
      at += 2;
      words.push(word);
      line.push(word);
    });
    lines.push(line);
  });
  if (at !== v.length || words.some(function (w) { return !isFinite(w.x) || !isFinite(w.y); })) return null;
  wordCache[n] = { words: words, lines: lines, aspect: p.w / p.h };
  return wordCache[n];
}

function pct(v) { return (v * 100).toFixed(3) + '%'; }
function place(el, x, y, w, h) {
  el.style.left = pct(x); el.style.top = pct(y); el.style.width = pct(w); el.style.height = pct(h);
}

// Invisible text over the page image, one element per line, so that a reader can select
// and copy the words and a screen reader reads them. Each line gets the font size that
// makes it as wide as on the page (in container units, so it fits at every size);
// browsers hit-test scaled text unreliably, so no transform is used.
var measureCtx = null;
function textWidth(t) {
  if (!measureCtx) { measureCtx = doc.createElement('canvas').getContext('2d'); measureCtx.font = '100px sans-serif'; }
  return measureCtx.measureText(t).width / 100;
}
function textLayer(n) {
  var info = pageWords(n);
  if (!info) return null;
  var layer = doc.createElement('div');
  layer.className = 'vm-text';
  info.lines.forEach(function (line) {
    var x0 = 1, y0 = 1, x1 = 0, y1 = 0;
    line.forEach(function (w) {
      x0 = Math.min(x0, w.x); y0 = Math.min(y0, w.y);
      x1 = Math.max(x1, w.x + w.w); y1 = Math.max(y1, w.y + w.h);
    });
    var t = line.map(function (w) { return w.text; }).join(' ');
    var el = doc.createElement('span');
    el.textContent = t;
    // An Arabic or Hebrew line lays out right to left, its words over their images.
    el.dir = 'auto';
    el.style.left = pct(x0);
    el.style.top = pct(y0);
    // The width-fitting size, within reason of the line's height (a font far narrower
    // than the page's would otherwise make a giant line).
    var byHeight = (y1 - y0) * 0.85 / info.aspect, em = textWidth(t);
    var size = em > 0 ? Math.min((x1 - x0) / em, 1.6 * byHeight) : byHeight;
    el.style.fontSize = (size * 100).toFixed(3) + 'cqw';
    layer.appendChild(el);
    // Copied text keeps its line breaks.
    layer.appendChild(doc.createElement('br'));
  });
  return layer;
}

// Link areas: pages of the book turn in place, web and mail addresses open in a new tab.
function linkLayer(n) {
  var p = layoutPage(n);
  if (!p || !Array.isArray(p.links) || !p.links.length) return null;
  var layer = doc.createElement('div');
  layer.className = 'vm-links';
  p.links.forEach(function (l) {
    var target = l[4], a = doc.createElement('a');
    a.className = 'vm-link';
    if (typeof target === 'number') {
      if (target < 1 || target > book.pages) return;
      a.href = '#page=' + target;
      a.dataset.page = target;
      a.setAttribute('aria-label', text('page', 'Page') + ' ' + pageName(target));
    } else if (/^(https?:\/\/|mailto:)/i.test(String(target))) {
      a.href = target;
      a.target = '_blank';
      a.rel = 'noopener noreferrer';
      a.setAttribute('aria-label', String(target).replace(/^mailto:/i, ''));
    } else return;
    place(a, fracX(p, l[0]), fracY(p, l[1]), fracX(p, l[2]), fracY(p, l[3]));
    layer.appendChild(a);
  });
  return layer.childNodes.length ? layer : null;
}

// The words of page n that a search query covers, as indices into pageWords(n).words.
function hitWords(n, query) {
  var info = pageWords(n);
  var q = String(query || '').replace(/\s+/g, ' ').trim();
  if (!info || !q) return [];
  var joined = '', starts = [];
  info.words.forEach(function (w, i) { if (i) joined += ' '; starts.push(joined.length); joined += w.text; });
  var re = new RegExp(escapeRe(q).replace(/ /g, '\\s+'), 'giu'), out = [], m;
  while ((m = re.exec(joined))) {
    if (!m[0].length) { re.lastIndex++; continue; }
    var a = m.index, b = a + m[0].length;
    for (var i = 0; i < starts.length; i++) {
      var end = starts[i] + info.words[i].text.length;
      if (starts[i] < b && end > a && out.indexOf(i) < 0) out.push(i);
    }
  }
  return out;
}

function hitLayer(n) {
  var found = hitWords(n, state.query);
  if (!found.length) return null;
  var layer = doc.createElement('div'), words = pageWords(n).words;
  layer.className = 'vm-hits';
  layer.setAttribute('aria-hidden', 'true');
  found.forEach(function (i) {
    var w = words[i], mark = doc.createElement('div');
    mark.className = 'vm-hit';
    place(mark, w.x, w.y, w.w, w.h);
    layer.appendChild(mark);
  });
  return layer;
}

// Adds the layout layers of page n to a page element (the book's or the zoom view's),
// noting which pieces of layout and text were in then.
var layersStamp = 0;
function addLayers(el, n) {
  el.vmLayers = layersStamp;
  if (!book.layout) return;
  [hitLayer(n), textLayer(n), linkLayer(n)].forEach(function (layer) { if (layer) el.appendChild(layer); });
}

function refreshPageLayers(el) {
  var bg = el.querySelector('img.vm-bg');
  if (bg) bg.alt = altText(+el.dataset.page);
  var old = el.querySelectorAll('.vm-hits, .vm-text, .vm-links');
  for (var j = 0; j < old.length; j++) old[j].remove();
  addLayers(el, +el.dataset.page);
}

// Once a piece of layout or text is in, the shown pages get their layers (and marks)
// and their images' alternative text; pages made before and shown later catch up as
// they show (see layersCatchUp).
function refreshLayers() {
  layersStamp++;
  var pages = doc.querySelectorAll('.vm-page[data-page], .vm-zoom-page[data-page]');
  for (var i = 0; i < pages.length; i++) refreshPageLayers(pages[i]);
}
function layersCatchUp(el) {
  if (el && el.dataset.page && el.vmLayers !== layersStamp) refreshPageLayers(el);
}

function refreshHits() {
  var pages = doc.querySelectorAll('.vm-page[data-page], .vm-zoom-page[data-page]');
  for (var i = 0; i < pages.length; i++) {
    var old = pages[i].querySelector('.vm-hits');
    if (old) old.remove();
    var layer = hitLayer(+pages[i].dataset.page);
    if (layer) pages[i].insertBefore(layer, pages[i].querySelector('.vm-text, .vm-links'));
  }
}
