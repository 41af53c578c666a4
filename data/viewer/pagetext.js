// ----- Page text: in pieces (txt-1.js, txt-33.js, ...) or, in books made before, whole ----
// The text gives the search its pages, the text layer its words and the images their
// alternative text. It is fetched only for the pages on show (once the first spread is
// up) and, for a search, piece by piece, so that opening a long book costs no more than a
// short one.

var bookText = { title: '', pageCount: 0, pages: [] };
var textPieces = {}, wholeText = null;

// Pieces hold this many pages when the layout says the book comes in pieces; 0 when the
// whole txt.js is to be read.
function textPieceSize() {
  return loadLayout().then(function (L) { return L && L.pieces > 0 ? L.pieces : 0; });
}

function takeText(t, first) {
  if (!t || !Array.isArray(t.pages)) return false;
  if (!bookText.title && t.title) bookText.title = String(t.title);
  if (t.pageCount > 0) bookText.pageCount = t.pageCount;
  for (var i = 0; i < t.pages.length; i++) bookText.pages[first - 1 + i] = t.pages[i];
  window.VELLUMARK_BOOK_TEXT = bookText;
  if (!book.title && bookText.title) setTitle(bookText.title);
  refreshLayers();
  return true;
}

// The piece that starts at page `first`, once: a promise of {first, pages} or null.
function textPiece(first) {
  if (!textPieces[first]) {
    textPieces[first] = loadData(pieceName('txt.js', first), 'VELLUMARK_BOOK_TEXT').then(function (t) {
      return t && t.first === first && takeText(t, first) ? { first: first, pages: t.pages } : null;
    });
  }
  return textPieces[first];
}

function loadWholeText() {
  if (!wholeText) {
    var given = window.VELLUMARK_BOOK_TEXT;
    wholeText = (given ? Promise.resolve(given) : loadData('txt.js', 'VELLUMARK_BOOK_TEXT')).then(function (t) {
      return takeText(t, 1) ? { first: 1, pages: t.pages } : null;
    });
  }
  return wholeText;
}

// The text of pages `list` (numbers from 1).
function loadTextFor(list) {
  return textPieceSize().then(function (size) {
    if (!size) return loadWholeText();
    var firsts = {};
    list.forEach(function (n) { if (n >= 1 && n <= book.pages) firsts[pieceFirst(n, size)] = true; });
    return Promise.all(Object.keys(firsts).map(function (f) { return textPiece(+f); }));
  });
}

// Hands every piece of the text to `each` in page order, as soon as it and those before
// it are in; resolves to false when the book has no text. At most three pieces are on
// their way at once, so that on a slow line the first ones, and their hits, come first.
function eachTextPiece(each) {
  return textPieceSize().then(function (size) {
    if (!size) return loadWholeText().then(function (t) { if (t) each(t); return !!t; });
    var loads = [], got = false, chain = Promise.resolve();
    for (var first = 1; first <= book.pages; first += size) {
      var after = loads.length >= 3 ? loads[loads.length - 3] : Promise.resolve();
      loads.push(after.then(textPiece.bind(null, first)));
    }
    loads.forEach(function (load) {
      chain = chain.then(function () { return load; }).then(function (t) { if (t) { got = true; each(t); } });
    });
    return chain.then(function () { return got; });
  });
}

function pageText(n) {
  var t = bookText.pages[n - 1];
  return typeof t === 'string' ? t : '';
}

function altText(n) {
  var label = text('page', 'Page') + ' ' + n;
  var body = pageText(n).replace(/\s+/g, ' ').trim();
  if (body.length > 300) body = body.slice(0, 300).replace(/\s\S*$/, '') + '…';
  return body ? label + ': ' + body : label;
}

function setTitle(t) {
  book.title = t;
  if ($('vm-heading').textContent !== t) $('vm-heading').textContent = t;
  doc.title = t || text('book', 'Book');
}
