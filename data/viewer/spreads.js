// ----- Spreads ----------------------------------------------------------------------------

// Spread mode: the cover alone on the right, then pairs (2,3), (4,5), ...
function spreadCount() { return state.layout.spread ? Math.floor(book.pages / 2) + 1 : book.pages; }
function spreadOf(page) { return state.layout.spread ? Math.floor(page / 2) : page - 1; }
// [left slot, right slot]; a right-to-left book shows each pair the other way round,
// its lower page on the right.
function spreadPages(k) {
  if (!state.layout.spread) return [k + 1];
  var l = 2 * k, r = 2 * k + 1;
  var pair = [l >= 1 && l <= book.pages ? l : 0, r <= book.pages ? r : 0];
  return state.rtl ? [pair[1], pair[0]] : pair;
}
function ascending(a, b) { return a - b; }
function visiblePages() { return spreadPages(state.spread).filter(Boolean).sort(ascending); }

// A page element of page n with its images and, unless `bare` (a turning leaf's face,
// which moves too fast to be read), its layout layers.
function makePage(n, bare) {
  var page = doc.createElement('div');
  page.className = 'vm-page';
  if (!n) { page.classList.add('vm-blank'); return page; }
  page.dataset.page = n;
  var bg = doc.createElement('img');
  bg.className = 'vm-bg';
  bg.dataset.page = n;
  bg.alt = altText(n);
  bg.draggable = false;
  setImage(bg, n, false);
  var fg = doc.createElement('img');
  fg.className = 'vm-fg';
  fg.alt = '';
  fg.draggable = false;
  fg.onerror = function () { fg.hidden = true; };
  setImage(fg, n, true);
  page.appendChild(bg);
  page.appendChild(fg);
  if (!bare) addLayers(page, n);
  page.classList.add('vm-loading');
  bg.onload = function () { page.classList.remove('vm-loading'); };
  bg.onerror = function () { page.classList.remove('vm-loading'); page.classList.add('vm-missing'); };
  return page;
}

// Page 1 in the first spread takes its images as the page's head asked for them: from
// the same list of sets, so that the browser makes the same choice and fetches nothing
// twice. Every other page comes from the set of the layout.
function setImage(img, n, fg) {
  var hint = n === 1 && !state.shown ? headHint(fg) : null;
  if (hint) {
    img.sizes = hint.getAttribute('imagesizes');
    img.srcset = hint.getAttribute('imagesrcset');
  } else {
    img.src = pageImage(state.layout.res, n, fg);
  }
}

function headHint(fg) {
  var link = doc.querySelector('link[rel="preload"][data-vm-first="' + (fg ? 'img-1-f.png' : 'img-1.jpg') + '"]');
  return link && link.getAttribute('imagesrcset') && link.getAttribute('imagesizes') ? link : null;
}

// Once the first spread is up: when the browser chose a set for page 1 at least as sharp
// as the layout's, the reader goes on with that one; when it chose a less sharp one, the
// page is shown again from the layout's set (the first stays until that one is in).
function settleHintedSet() {
  var img = doc.querySelector('#vm-book img.vm-bg[srcset]');
  var m = img && /\/([^\/]+)\/img-1\.jpg$/.exec(img.currentSrc || '');
  var chosen = m && imageSet(decodeURIComponent(m[1])), own = imageSet(state.layout.res);
  if (!chosen || !own) return;
  if (imgHeight(chosen) >= imgHeight(own)) state.layout.res = chosen.dir;
  else render(true);
}

// Resolves once the page's images are decoded (or have failed), its loading mark gone:
// a page shown after that is never blank.
function pageReady(page) {
  var imgs = page.querySelectorAll('img');
  return Promise.all(Array.prototype.map.call(imgs, function (img) {
    if (img.decode) return img.decode().catch(function () {});
    return new Promise(function (ok) { if (img.complete) ok(); else { img.onload = ok; img.onerror = ok; } });
  })).then(function () {
    var bg = page.querySelector('img.vm-bg');
    if (bg && bg.complete) page.classList.remove('vm-loading');
  });
}

function fill(slot, page) {
  slot.textContent = '';
  if (page) { layersCatchUp(page); slot.appendChild(page); }
}

function slots() {
  var el = $('vm-book');
  return { book: el, left: el.querySelector('.vm-left'), right: el.querySelector('.vm-right') };
}

function applyLayout() {
  var s = slots(), L = state.layout;
  s.book.classList.toggle('vm-spread', L.spread);
  s.book.style.width = (L.spread ? 2 * L.pw : L.pw) + 'px';
  s.book.style.height = L.ph + 'px';
}

// Shows the current spread at once, without animation. With `keep`, the pages on show
// stay until the new ones' images are decoded (another image set after a resize, a
// rotation or a change of pixel ratio), so that the book never goes blank meanwhile.
// A later render or turn cancels a replacement still waiting.
var renderCount = 0;
function render(keep) {
  var s = slots(), p = spreadPages(state.spread), ticket = ++renderCount;
  if (turning) turning.finish();
  shownSpread = state.spread;
  var pages = state.layout.spread ? [makePage(p[0]), makePage(p[1])] : [makePage(p[0])];
  function show() {
    if (ticket !== renderCount) return;
    fill(s.left, pages[0]);
    fill(s.right, pages[1] || null);
  }
  var ready = Promise.all(pages.map(pageReady));
  // Pages of the zoom layer's set take their text from the tiles.
  if (textStandsIn(state.layout.res)) scheduleTiles();
  if (!keep) { show(); return ready; }
  return ready.then(show);
}

// Asks for the images of spread k, decoding them ahead; `held` keeps the requests (by
// address) so that they are neither repeated nor dropped.
function fetchSpread(k, held) {
  spreadPages(k).forEach(function (n) {
    if (!n) return;
    [false, true].forEach(function (fg) {
      if (n === 1 && !state.shown && headHint(fg)) return;  // the head has asked for it
      var src = pageImage(state.layout.res, n, fg);
      if (preloaded[src]) { held[src] = preloaded[src]; return; }
      var img = new Image();
      img.src = src;
      held[src] = img;
      // Decoding ahead keeps the decode off the frames of the turn.
      if (img.decode) img.decode().catch(function () {});
    });
  });
}

// Neighbouring spreads are fetched ahead so that a turn finds its images in the cache,
// once the first spread is up (before, they would only slow it down): two ahead in the
// direction the reader goes, one behind. Only these are held, so a long read does not
// pile up decoded images. Their layout comes too, and the text of the pages on show once
// the reader has been idle after the first spread (see start).
var preloaded = {};
function preload() {
  if (!state.shown) return;
  var keep = {}, dir = state.heading || 1, near = [];
  [state.spread + dir, state.spread + 2 * dir, state.spread - dir].forEach(function (k) {
    if (k < 0 || k >= spreadCount()) return;
    fetchSpread(k, keep);
    near = near.concat(spreadPages(k));
  });
  preloaded = keep;
  loadLayoutFor(visiblePages().concat(near));
  if (state.textWanted) loadTextFor(visiblePages());
}
