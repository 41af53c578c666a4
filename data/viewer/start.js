// ----- Start ---------------------------------------------------------------------------------

function labelOptionalButtons() {
  var mail = $('vm-email'), note = $('vm-note-btn');
  if (mail) { mail.setAttribute('aria-label', text('email', 'Send by e-mail')); mail.title = text('email', 'Send by e-mail'); }
  if (note) { note.setAttribute('aria-label', text('note', 'Notes')); note.title = text('note', 'Notes'); }
  if (!(doc.fullscreenEnabled || doc.webkitFullscreenEnabled)) $('vm-full-btn').hidden = true;
}

function bind() {
  $('vm-first').addEventListener('click', function () { goTo(1); });
  $('vm-prev').addEventListener('click', prev);
  $('vm-next').addEventListener('click', next);
  $('vm-last').addEventListener('click', function () { goTo(book.pages); });
  var box = $('vm-pagenum');
  box.addEventListener('keydown', function (e) {
    if (e.key === 'Enter') { e.preventDefault(); var n = pageFromInput(box.value); if (n) goTo(n); else afterMove(); }
  });
  box.addEventListener('change', function () { var n = pageFromInput(box.value); if (n) goTo(n); else afterMove(); });
  box.addEventListener('focus', function () { box.select(); });

  doc.addEventListener('keydown', onKey);
  var stage = $('vm-stage');
  // The skip link moves the focus without taking the page's place in the address.
  var skip = doc.querySelector('.vm-skip');
  if (skip) skip.addEventListener('click', function (e) { e.preventDefault(); stage.focus(); });
  stage.addEventListener('wheel', onWheel, { passive: false });
  stage.addEventListener('pointerdown', onPointerDown);
  stage.addEventListener('pointerup', onPointerUp);
  stage.addEventListener('pointercancel', function (e) { swipe = null; onTouchUp(e); });
  stage.addEventListener('pointerdown', onTouchDown);
  stage.addEventListener('pointermove', onTouchMove);
  stage.addEventListener('pointerup', onTouchUp);
  // The left edge turns back in a left-to-right book and forward in a right-to-left one.
  doc.querySelector('.vm-edge-prev').addEventListener('click', function () { if (state.rtl) next(); else prev(); });
  doc.querySelector('.vm-edge-next').addEventListener('click', function () { if (state.rtl) prev(); else next(); });
  // Links on a page to another page of the book turn to it.
  $('vm-book').addEventListener('click', onPageLink);
  $('vm-zoom-view').addEventListener('click', onPageLink);

  $('vm-thumbs-btn').addEventListener('click', function () { togglePanel('vm-thumbs'); });
  // Opening the search panel starts fetching the text the search will need.
  $('vm-search-btn').addEventListener('click', function () { togglePanel('vm-search'); eachTextPiece(function () {}); });
  $('vm-print-btn').addEventListener('click', function () { togglePanel('vm-print'); });
  if ($('vm-note-btn')) $('vm-note-btn').addEventListener('click', function () { togglePanel('vm-note'); });
  else { $('vm-note').remove(); delete panels['vm-note']; }
  doc.querySelectorAll('[data-close]').forEach(function (b) {
    b.addEventListener('click', function () { setPanel(b.dataset.close, false); });
  });
  $('vm-search-form').addEventListener('submit', runSearch);
  $('vm-results').addEventListener('click', function (e) {
    var b = e.target.closest('.vm-result');
    if (b) goTo(+b.dataset.page);
  });
  $('vm-print-form').addEventListener('submit', openPrint);
  ['vm-print-from', 'vm-print-to'].forEach(function (id) {
    $(id).addEventListener('input', function () {
      var r = $('vm-print-form').querySelector('input[value="range"]');
      if (r) r.checked = true;
    });
  });
  $('vm-zoom-btn').addEventListener('click', function () { setZoom($('vm-zoom').hidden); });
  $('vm-zoom-close').addEventListener('click', function () { setZoom(false); });
  enablePan($('vm-zoom-view'));
  $('vm-full-btn').addEventListener('click', toggleFullscreen);
  doc.addEventListener('fullscreenchange', onFullscreenChange);
  doc.addEventListener('webkitfullscreenchange', onFullscreenChange);

  window.addEventListener('hashchange', function () {
    var p = pageFromHash();
    if (p && p !== state.page) goTo(p);
  });
  var pending = 0;
  new ResizeObserver(function () {
    cancelAnimationFrame(pending);
    pending = requestAnimationFrame(relayout);
  }).observe(stage);
}

function onPageLink(e) {
  var a = e.target.closest('a.vm-link[data-page]');
  if (!a) return;
  e.preventDefault();
  goTo(+a.dataset.page);
}

function relayout() {
  // Panels open below the toolbar, whose height depends on how its buttons wrap.
  app.style.setProperty('--vm-bar-h', $('vm-bar').offsetHeight + 'px');
  var L = computeLayout(), old = state.layout;
  if (old && L.spread === old.spread && L.pw === old.pw && L.ph === old.ph && L.res === old.res) return;
  if (turning) turning.finish();
  resetTouchZoom();
  state.layout = L;
  state.spread = spreadOf(state.page);
  applyLayout();
  // Once a spread is up, it stays until the new pages can take its place.
  if (!old || L.spread !== old.spread || L.res !== old.res) { render(state.shown); afterMove(); }
}

// The image set follows the pixel ratio too, which changes without a resize when the
// window moves to another screen or the page is zoomed: a query on the current ratio
// reports the change, and a new query is set up for the new ratio.
function watchPixelRatio() {
  if (!window.matchMedia) return;
  var query = window.matchMedia('(resolution: ' + (window.devicePixelRatio || 1) + 'dppx)');
  if (!query.addEventListener) return;
  query.addEventListener('change', function changed() {
    query.removeEventListener('change', changed);
    relayout();
    watchPixelRatio();
  });
}

function start() {
  app = $('vm-app');
  texts = $('vm-texts');
  if (!app) return;
  book = readBook();
  state = { page: clamp(pageFromHash() || 1, 1, book.pages), spread: 0, layout: null, shown: false, query: '',
    heading: 1, textWanted: false,
    rtl: String(app.dataset.direction || '').trim().toLowerCase() === 'rtl' };
  setTitle(book.title);
  $('vm-pagetotal').textContent = '/ ' + book.pages;
  labelOptionalButtons();
  setupShareButtons();
  setupPhone();
  app.style.setProperty('--vm-bar-h', $('vm-bar').offsetHeight + 'px');
  state.layout = computeLayout();
  state.spread = spreadOf(state.page);
  applyLayout();
  bind();
  watchPixelRatio();
  // The first spread's images are asked for at once (unless the page's head did so
  // already), while its layout arrives (the piece that holds it, a small script; a book
  // without one goes on at once): it decides the reading direction, so the first spread
  // waits for it. Nothing else is fetched before the first spread is up.
  fetchSpread(state.spread, preloaded);
  loadLayout().then(function (L) {
    if (L && !String(app.dataset.direction || '').trim()) state.rtl = L.direction === 'rtl';
    app.classList.toggle('vm-rtl', state.rtl);
    afterMove();
    return render();
  }).then(function () {
    state.shown = true;
    if (window.performance && performance.mark) performance.mark('vm-first-spread');
    settleHintedSet();
    // Then the neighbours' images and layout, and the outline for the contents panel.
    preload();
    return loadOutline();
  }).then(function (L) {
    if (L) buildContents();
    app.dataset.ready = '1';
    // A moment later, the text of the pages on show, which gives the text layer its
    // words and the images their alternative text; the rest waits for a search.
    setTimeout(function () { state.textWanted = true; loadTextFor(visiblePages()); }, 300);
  });
  afterMove();
}

if (doc.readyState === 'loading') doc.addEventListener('DOMContentLoaded', start);
else start();
