// ----- Turning pages --------------------------------------------------------------------
// The reader asks for a spread (state.spread) at once; the book shows it as soon as its
// images are decoded, so that no page is ever blank. One step is turned as a leaf over
// the spine; a jump, a step the reader has already moved past and the steps of a held
// key show at once. A turn
// asked for while another runs ends the running one at once, so that pages move as fast
// as the reader asks for them.

var turning = null, preparing = null, shownSpread = -1;

// The length of a turn, from the book page (a template variable; 0 shows every spread
// at once); readers who ask for reduced motion get no animation.
function turnMs() {
  if (window.matchMedia && window.matchMedia('(prefers-reduced-motion: reduce)').matches) return 0;
  var ms = parseInt(app.dataset.turnMs, 10);
  return ms >= 0 ? Math.min(ms, 5000) : 650;
}

// `riffle`: the move comes from a held key, whose spreads show without the leaf (it
// would be cut short by the next one anyway).
function goTo(page, riffle) {
  page = clamp(Math.round(page) || 1, 1, book.pages);
  state.riffle = !!riffle;
  var target = spreadOf(page);
  if (target !== state.spread) { resetTouchZoom(); state.heading = target > state.spread ? 1 : -1; }
  state.page = page;
  state.spread = target;
  afterMove();
  if (!state.shown) { renderCount++; return render(); }
  return showTarget();
}

function markTurning() { app.classList.toggle('vm-turning', !!(turning || preparing)); }

// Prepares the way from the spread on show to the one asked for and shows it once its
// images are decoded; then goes on to a spread asked for meanwhile. A preparation the
// reader has turned away from (or a render has overtaken) is dropped.
function showTarget() {
  if (preparing) return preparing;
  var from = shownSpread, to = state.spread, ticket = renderCount;
  if (to === from) return Promise.resolve();
  var plan = planTurn(from, to);
  preparing = plan.ready.then(function () {
    preparing = null;
    var now = state.spread;
    var onTheWay = (now - from) * (to - from) > 0 && Math.abs(now - from) >= Math.abs(to - from);
    if (ticket === renderCount && onTheWay) {
      if (turning) turning.finish();
      shownSpread = to;
      plan.start(Math.abs(to - from) === 1 && now === to && !state.riffle ? turnMs() : 0);
    }
    markTurning();
    return showTarget();
  });
  markTurning();
  return preparing;
}

// The pages of a move from spread `from` (on show) to `to`, made ahead so that their
// images are decoded before anything changes on screen: `ready` resolves then, and
// `start(ms)` shows the move, turning one leaf over the spine in `ms` milliseconds
// (forward it carries the right page away and shows the target's left page on its back;
// backward the mirror image), or at once.
function planTurn(from, to) {
  // In a right-to-left book a forward turn moves like a backward one of other books.
  var fwd = (to > from) !== state.rtl, wide = state.layout.spread;
  var cur = spreadPages(from), tgt = spreadPages(to);
  var left = makePage(tgt[0]), right = wide ? makePage(tgt[1]) : null;
  var front = null, back = null;
  if (Math.abs(to - from) === 1) {
    if (wide) { front = makePage(fwd ? cur[1] : cur[0], true); back = makePage(fwd ? tgt[0] : tgt[1], true); }
    else front = makePage(fwd ? cur[0] : tgt[0], true);
  }
  var all = [left, right, front, back].filter(Boolean);
  return {
    ready: Promise.all(all.map(pageReady)),
    start: function (ms) {
      var s = slots();
      if (!ms || !front) { fill(s.left, left); fill(s.right, right); return; }
      var first, last, keyframes = fwd ? ['rotateY(0deg)', 'rotateY(-180deg)'] : ['rotateY(0deg)', 'rotateY(180deg)'];
      if (wide && fwd) { first = function () { fill(s.right, right); }; last = function () { fill(s.left, left); }; }
      else if (wide) { first = function () { fill(s.left, left); }; last = function () { fill(s.right, right); }; }
      else if (fwd) { first = function () { fill(s.left, left); }; last = function () {}; }
      else {
        first = function () {};
        last = function () { fill(s.left, left); };
        keyframes = ['rotateY(-180deg)', 'rotateY(0deg)'];
      }
      animateLeaf(front, back, fwd, keyframes, ms, first, last);
    }
  };
}

function animateLeaf(frontPage, backPage, fwd, keyframes, ms, first, last) {
  var s = slots();
  var leaf = doc.createElement('div');
  leaf.className = 'vm-leaf ' + (fwd ? 'vm-leaf-fwd' : 'vm-leaf-back');
  var front = doc.createElement('div'), back = doc.createElement('div');
  front.className = 'vm-face vm-front';
  back.className = 'vm-face vm-back';
  front.appendChild(frontPage);
  if (backPage) back.appendChild(backPage);
  leaf.appendChild(front);
  leaf.appendChild(back);
  leaf.style.transform = keyframes[0];
  first();
  s.book.appendChild(leaf);
  var done = false;
  var anim = leaf.animate([{ transform: keyframes[0] }, { transform: keyframes[1] }],
    { duration: ms, easing: 'cubic-bezier(.3,.1,.3,1)', fill: 'forwards' });
  var shade = front.animate([{ opacity: 1 }, { opacity: 0.75 }], { duration: ms, fill: 'forwards' });
  var handle = {
    finish: function () {
      if (done) return;
      done = true;
      anim.cancel();
      shade.cancel();
      last();
      leaf.remove();
      if (turning === handle) turning = null;
      markTurning();
    }
  };
  turning = handle;
  anim.finished.then(handle.finish, handle.finish);
}

function next(riffle) { return goTo(firstOf(state.spread + 1), riffle === true); }
function prev(riffle) { return goTo(firstOf(state.spread - 1), riffle === true); }
function firstOf(k) {
  k = clamp(k, 0, spreadCount() - 1);
  var p = spreadPages(k).filter(Boolean).sort(ascending);
  return p[0] || 1;
}

// The page box and the announcement name the pages on show by their labels, which come
// with the pages' layout piece.
function showPageNames() {
  var label = visiblePages().map(pageName).join('–');
  var status = text('page', 'Page') + ' ' + label + ' ' + text('of', 'of') + ' ' + book.pages;
  if (doc.activeElement !== $('vm-pagenum')) $('vm-pagenum').value = label;
  if ($('vm-status').textContent !== status) $('vm-status').textContent = status;
}

function afterMove() {
  var pages = visiblePages();
  $('vm-pagenum').value = pages.map(pageName).join('–');
  showPageNames();
  updateContentsCurrent();
  hideBarWhileReading();
  var focused = doc.activeElement;
  $('vm-first').disabled = $('vm-prev').disabled = state.spread <= 0;
  $('vm-last').disabled = $('vm-next').disabled = state.spread >= spreadCount() - 1;
  // A button switched off at either end would drop the keyboard focus: it moves to
  // the button that turns the other way.
  if (focused && focused.disabled) {
    var other = { 'vm-next': 'vm-prev', 'vm-last': 'vm-first', 'vm-prev': 'vm-next', 'vm-first': 'vm-last' }[focused.id];
    if (other && !$(other).disabled) $(other).focus();
  }
  app.dataset.current = pages.join(',');
  var hash = '#page=' + state.page;
  if (location.hash !== hash) {
    try { history.replaceState(history.state, '', hash); } catch (e) { /* sandboxed documents */ }
  }
  updateMail();
  markNotes();
  updateThumbCurrent();
  if ($('vm-note') && !$('vm-note').hidden) showNotes();
  if (!$('vm-zoom').hidden) showZoom();
  preload();
}

function pageFromHash() {
  var m = /(?:^#|&)page=(\d+)/.exec(location.hash);
  return m ? parseInt(m[1], 10) : 0;
}
