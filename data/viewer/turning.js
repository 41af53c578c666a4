// ----- Turning pages --------------------------------------------------------------------

var TURN_MS = 650;
var turning = null;

function reducedMotion() {
  return window.matchMedia && window.matchMedia('(prefers-reduced-motion: reduce)').matches;
}

function goTo(page) {
  page = clamp(Math.round(page) || 1, 1, book.pages);
  var target = spreadOf(page);
  if (turning) turning.finish();
  if (target !== state.spread) { resetTouchZoom(); renderCount++; }
  var from = state.spread;
  state.page = page;
  state.spread = target;
  var shown;
  if (target === from) shown = Promise.resolve();
  else if (reducedMotion() || !state.shown) shown = render();
  else shown = turn(from, target);
  afterMove();
  return shown;
}

// One leaf turns over the spine: forward it carries the right page away and shows the
// target's left page on its back; backward the mirror image.
function turn(from, to) {
  // In a right-to-left book a forward turn moves like a backward one of other books.
  var s = slots(), fwd = (to > from) !== state.rtl;
  var cur = spreadPages(from), tgt = spreadPages(to);
  var leaf = doc.createElement('div');
  leaf.className = 'vm-leaf ' + (fwd ? 'vm-leaf-fwd' : 'vm-leaf-back');
  var front = doc.createElement('div'), back = doc.createElement('div');
  front.className = 'vm-face vm-front';
  back.className = 'vm-face vm-back';
  var keyframes, under;
  if (state.layout.spread) {
    if (fwd) {
      front.appendChild(makePage(cur[1]));
      back.appendChild(makePage(tgt[0]));
      fill(s.right, makePage(tgt[1]));
      under = function () { fill(s.left, makePage(tgt[0])); };
      keyframes = [{ transform: 'rotateY(0deg)' }, { transform: 'rotateY(-180deg)' }];
    } else {
      front.appendChild(makePage(cur[0]));
      back.appendChild(makePage(tgt[1]));
      fill(s.left, makePage(tgt[0]));
      under = function () { fill(s.right, makePage(tgt[1])); };
      keyframes = [{ transform: 'rotateY(0deg)' }, { transform: 'rotateY(180deg)' }];
    }
  } else if (fwd) {
    front.appendChild(makePage(cur[0]));
    fill(s.left, makePage(tgt[0]));
    under = function () {};
    keyframes = [{ transform: 'rotateY(0deg)' }, { transform: 'rotateY(-180deg)' }];
  } else {
    front.appendChild(makePage(tgt[0]));
    under = function () { fill(s.left, makePage(tgt[0])); };
    keyframes = [{ transform: 'rotateY(-180deg)' }, { transform: 'rotateY(0deg)' }];
  }
  leaf.appendChild(front);
  leaf.appendChild(back);
  leaf.style.transform = keyframes[0].transform;
  s.book.appendChild(leaf);
  var anim = null, shade = null, done = false;
  var handle = {
    finish: function () {
      if (done) return;
      done = true;
      if (anim) anim.cancel();
      if (shade) shade.cancel();
      under();
      leaf.remove();
      if (turning === handle) turning = null;
      app.classList.remove('vm-turning');
    }
  };
  turning = handle;
  app.classList.add('vm-turning');
  // The leaf starts moving once its images are decoded (they usually are, having been
  // fetched ahead), so that no frame of the turn waits for a decode; a slow image
  // holds the turn back for a moment at most.
  var ready = Promise.all([pageReady(front), pageReady(back)]);
  var atMost = new Promise(function (ok) { setTimeout(ok, 250); });
  return Promise.race([ready, atMost]).then(function () {
    if (done) return;
    anim = leaf.animate(keyframes, { duration: TURN_MS, easing: 'cubic-bezier(.3,.1,.3,1)', fill: 'forwards' });
    shade = front.animate([{ opacity: 1 }, { opacity: 0.75 }], { duration: TURN_MS, fill: 'forwards' });
    return anim.finished.then(handle.finish, handle.finish);
  });
}

function next() { return goTo(firstOf(state.spread + 1)); }
function prev() { return goTo(firstOf(state.spread - 1)); }
function firstOf(k) {
  k = clamp(k, 0, spreadCount() - 1);
  var p = spreadPages(k).filter(Boolean).sort(ascending);
  return p[0] || 1;
}

function afterMove() {
  var pages = visiblePages();
  var label = pages.map(pageName).join('–');
  $('vm-pagenum').value = label;
  $('vm-status').textContent = text('page', 'Page') + ' ' + label + ' ' + text('of', 'of') + ' ' + book.pages;
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
