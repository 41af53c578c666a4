// ----- Data files by page range ----------------------------------------------------------
// A book's layout and search text come in pieces of a fixed number of pages beside the
// whole files ("layout-33.js" holds pages 33 to 64 of the layout, "txt-33.js" their
// text), so that opening a book costs the same whatever its length. Books made before
// have only the whole files, which the reader then falls back on.

// Runs the data script `name` of the book folder (a script element, so that a book on
// disk reads as one on a server) and hands back the value it assigns to window[global],
// or null. The load event comes right after the script has run, so pieces that assign
// the same global can load side by side; the caller puts what it made of them back
// into the global (tests and tools read it there).
function loadData(name, global) {
  return new Promise(function (done) {
    var s = doc.createElement('script');
    s.src = book.base + name;
    s.onload = function () { var v = window[global] || null; window[global] = undefined; s.remove(); done(v); };
    s.onerror = function () { s.remove(); done(null); };
    doc.head.appendChild(s);
  });
}

// The first page of the piece of `size` pages that holds page n.
function pieceFirst(n, size) { return Math.floor((n - 1) / size) * size + 1; }

// The name of a piece: the whole file's name with the piece's first page ("layout.js",
// 33: "layout-33.js").
function pieceName(whole, first) { return whole.replace(/\.js$/, '') + '-' + first + '.js'; }
