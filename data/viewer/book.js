// ----- Book description -------------------------------------------------------------

function readBook() {
  var d = app.dataset;
  var pages = Math.max(1, parseInt(d.pages, 10) || 1);
  var pw = parseInt(d.pageWidth, 10), ph = parseInt(d.pageHeight, 10);
  var res = String(d.res || '').split(',').map(function (item) {
    var f = item.trim().split(/\s+/);
    return { dir: f[0], w: parseInt(f[1], 10) || 0, h: parseInt(f[2], 10) || 0 };
  }).filter(function (r) { return r.dir && (r.w > 0 || r.h > 0); });
  var aspect = pw > 0 && ph > 0 ? pw / ph : 0.75;
  var zoom = String(d.zoomFrame || '').trim().split(/\s+/).map(Number);
  return {
    pages: pages,
    aspect: aspect,
    id: String(d.book || '').trim(),
    base: resolve(d.images || './'),
    res: res.length ? res : [{ dir: 'MedRes', w: 580, h: 650 }],
    // The zoom layer's images (folder 100, with their own sharp text layer) are made at
    // the page size of the book; they serve too where a page shows more device pixels
    // than the largest normal set has.
    sharp: pw > 0 && ph > 0 ? { dir: '100', w: pw, h: ph } : null,
    zoomFrame: zoom.length === 2 && zoom[0] > 0 && zoom[1] > 0 ? zoom : null,
    // The zoom layer's text is in the sharp zoom's tiles (its own text layer is empty).
    tileText: String(d.zoomText || '').trim() === 'tiles',
    printPage: resolve(d.print || '../print.html'),
    title: readTitle(),
    layout: null
  };
}

// The page generator writes the title (escaped) into the heading.
function readTitle() {
  var el = $('vm-heading');
  return el ? el.textContent.trim() : '';
}

function text(key, fallback) {
  var v = texts && texts.dataset[key];
  return v && v.trim() ? v : fallback;
}

// Image of page n in one of the image folders; "-f.png" is the foreground layer. Where the
// zoom layer's text is in tiles, the largest normal set's text layer stands in for it
// until the tiles are in (see tiles.js).
function pageImage(dir, n, fg) {
  if (fg && textStandsIn(dir)) dir = (imageSets().filter(function (r) { return r.dir !== dir; }).pop() || { dir: dir }).dir;
  return book.base + dir + '/img-' + n + (fg ? '-f.png' : '.jpg');
}

function textStandsIn(dir) { return !!(book.tileText && book.sharp && dir === book.sharp.dir); }

// ----- Layout: spread or single page, page size, image resolution --------------------

function computeLayout() {
  var stage = $('vm-stage');
  var w = stage.clientWidth, h = stage.clientHeight;
  var pad = Math.min(24, Math.max(8, Math.round(w * 0.02)));
  var aw = Math.max(50, w - 2 * pad), ah = Math.max(50, h - 2 * pad);
  // Two pages side by side only in a wide, landscape window; otherwise one page.
  var spread = book.pages > 1 && w >= 700 && w >= h;
  var ph = Math.min(ah, aw / (book.aspect * (spread ? 2 : 1)));
  var pw = ph * book.aspect;
  return { spread: spread, pw: Math.floor(pw), ph: Math.floor(ph), res: pickRes(ph) };
}

// The smallest image set whose pages are at least as large as the displayed page in
// device pixels (the zoom layer's set included, as the largest); the largest set when
// none is.
function pickRes(ph) {
  var dpr = window.devicePixelRatio || 1;
  var need = ph * dpr * 0.95;
  var sets = imageSets();
  for (var i = 0; i < sets.length; i++) if (imgHeight(sets[i]) >= need) return sets[i].dir;
  return sets[sets.length - 1].dir;
}

// The image sets from the smallest to the largest.
function imageSets() {
  var sets = book.res.slice();
  if (book.sharp && !sets.some(function (r) { return r.dir === book.sharp.dir; })) sets.push(book.sharp);
  return sets.sort(function (a, b) { return imgHeight(a) - imgHeight(b); });
}

function imageSet(dir) { return imageSets().filter(function (r) { return r.dir === dir; })[0] || null; }

// Pixel height of a page image of a set: portrait pages are scaled to the set's
// height, other pages to its width.
function imgHeight(r) {
  if (book.aspect <= 1 || !r.w) return r.h || r.w / book.aspect;
  return r.w / book.aspect;
}
