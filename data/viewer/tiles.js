// ----- Sharp zoom: the text layer in tiles at a higher resolution -------------------------
// A zoomed page that shows more device pixels than its images have gets its text from the
// tiles folder: only the tiles that lie in the visible part of the page are fetched, and
// once they are in they take the place of the page's own (softer) text layer. A page shown
// from the zoom layer's set, whose text is only in the tiles, always gets them; until they
// are in, a smaller set's text layer stands in. Books made before the tiles have no
// tiles/tiles.js and zoom their images as before.

var tileIndexPromise = null, tileTimer = 0, tileObserver = null;

function loadTileIndex() {
  if (tileIndexPromise) return tileIndexPromise;
  tileIndexPromise = new Promise(function (done) {
    var s = doc.createElement('script');
    s.src = book.base + 'tiles/tiles.js';
    s.onload = function () { done(window.VELLUMARK_BOOK_TILES || null); };
    s.onerror = function () { done(null); };
    doc.head.appendChild(s);
  }).then(function (T) {
    return T && T.version === 1 && T.size > 0 && Array.isArray(T.pages) ? T : null;
  });
  return tileIndexPromise;
}

// Tiles follow the zoom once it has settled, so that a pinch fetches none for the sizes
// it passes through. New pages (a turn while zoomed) get theirs the same way.
function scheduleTiles() {
  if (!tileObserver && window.MutationObserver) {
    tileObserver = new MutationObserver(function (list) {
      if (list.some(function (m) {
        return Array.prototype.some.call(m.addedNodes, function (el) { return el.classList && el.classList.contains('vm-page'); });
      })) scheduleTiles();
    });
    tileObserver.observe($('vm-book'), { childList: true, subtree: true });
  }
  clearTimeout(tileTimer);
  tileTimer = setTimeout(function () {
    // Fingers still on the screen: the zoom has not settled yet.
    if (Object.keys(pointers).length) scheduleTiles();
    else loadTileIndex().then(placeTiles);
  }, 120);
}

function placeTiles(T) {
  var zoomOpen = !$('vm-zoom').hidden, bookZoomed = touchZoom.scale > 1;
  var stage = $('vm-stage').getBoundingClientRect(), view = $('vm-zoom-view').getBoundingClientRect();
  doc.querySelectorAll('#vm-book .vm-page[data-page]').forEach(function (page) {
    sharpenPage(page, T && (bookZoomed || standIn(page)) ? T : null, stage);
  });
  doc.querySelectorAll('#vm-zoom-view .vm-zoom-page[data-page]').forEach(function (page) {
    sharpenPage(page, T && zoomOpen ? T : null, view);
  });
}

// Adds the tiles of the part of `page` inside `clip` (a screen rectangle) when the page
// shows more device pixels than its image has; without `T` the page goes back to its
// own text layer.
function sharpenPage(page, T, clip) {
  var n = +page.dataset.page, info = T && T.pages[n - 1];
  var bg = page.querySelector('img.vm-bg'), layer = page.querySelector('.vm-tiles');
  var r = page.getBoundingClientRect(), dpr = window.devicePixelRatio || 1;
  var stands = standIn(page);
  // A page the engine drew without tiles has its own text layer in the zoom layer's set.
  if (T && !info && stands) page.querySelector('img.vm-fg').src = book.base + book.sharp.dir + '/img-' + n + '-f.png';
  var needed = info && info.w > 0 && info.h > 0 && bg && (stands || r.width * dpr > (bg.naturalWidth || 0) * 1.05);
  if (!needed) {
    if (layer) layer.remove();
    showOwnText(page, true);
    return;
  }
  // The image area inside the page's box (a page of another shape than the book's is
  // fitted inside it, as its images are).
  var fit = Math.min(r.width / info.w, r.height / info.h);
  var area = { w: info.w * fit, h: info.h * fit };
  area.left = r.left + (r.width - area.w) / 2;
  area.top = r.top + (r.height - area.h) / 2;
  if (!layer) {
    layer = doc.createElement('div');
    layer.className = 'vm-tiles';
    layer.style.cssText = 'position:absolute;pointer-events:none;left:' + pct((area.left - r.left) / r.width) +
      ';top:' + pct((area.top - r.top) / r.height) + ';width:' + pct(area.w / r.width) + ';height:' + pct(area.h / r.height);
    var fg = page.querySelector('img.vm-fg');
    page.insertBefore(layer, fg ? fg.nextSibling : page.firstChild);
  }
  var size = T.size, cols = Math.ceil(info.w / size), rows = Math.ceil(info.h / size);
  var px = info.w / area.w;  // tile pixels per CSS pixel
  var x0 = Math.max(0, Math.floor((Math.max(clip.left, 0) - area.left) * px / size));
  var x1 = Math.min(cols - 1, Math.floor((Math.min(clip.right, window.innerWidth) - area.left) * px / size - 1e-6));
  var y0 = Math.max(0, Math.floor((Math.max(clip.top, 0) - area.top) * px / size));
  var y1 = Math.min(rows - 1, Math.floor((Math.min(clip.bottom, window.innerHeight) - area.top) * px / size - 1e-6));
  for (var y = y0; y <= y1; y++) {
    for (var x = x0; x <= x1; x++) {
      if (!tilePresent(info.tiles, y * cols + x) || layer.querySelector('[data-tile="' + x + '-' + y + '"]')) continue;
      layer.appendChild(tileImage(page, layer, n, x, y, info, size));
    }
  }
  settleTiles(page, layer);
}

// Whether the page shows the zoom layer's set with another set's text standing in.
function standIn(page) {
  var bg = page.querySelector('img.vm-bg'), fg = page.querySelector('img.vm-fg');
  var set = bg && /\/([^\/]+)\/img-\d+\.jpg$/.exec(bg.currentSrc || bg.src || '');
  if (!set || !fg || !textStandsIn(decodeURIComponent(set[1]))) return false;
  return (fg.currentSrc || fg.src || '').indexOf('/' + set[1] + '/img-') < 0;
}

function pct(f) { return (f * 100).toFixed(4) + '%'; }

// Tile t of a page is bit t % 4 of hexadecimal digit t / 4.
function tilePresent(hex, t) {
  var d = parseInt(hex.charAt(t >> 2), 16);
  return !!(d & (1 << (t & 3)));
}

function tileImage(page, layer, n, x, y, info, size) {
  var img = doc.createElement('img');
  img.alt = '';
  img.draggable = false;
  img.dataset.tile = x + '-' + y;
  img.style.cssText = 'position:absolute;left:' + pct(x * size / info.w) + ';top:' + pct(y * size / info.h) +
    ';width:' + pct(Math.min(size, info.w - x * size) / info.w) + ';height:' + pct(Math.min(size, info.h - y * size) / info.h);
  img.onload = img.onerror = function () { settleTiles(page, layer); };
  img.src = book.base + 'tiles/img-' + n + '-' + x + '-' + y + '.png';
  return img;
}

// The page's own text layer steps aside once every tile asked for is in.
function settleTiles(page, layer) {
  var imgs = layer.querySelectorAll('img');
  var done = Array.prototype.every.call(imgs, function (img) { return img.complete; });
  showOwnText(page, !done);
}

function showOwnText(page, on) {
  var fg = page.querySelector('img.vm-fg');
  if (fg) fg.style.visibility = on ? '' : 'hidden';
}
