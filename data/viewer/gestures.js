// ----- Touch zoom: pinch, double tap, and panning the zoomed page ---------------------

var touchZoom = { scale: 1, x: 0, y: 0 }, pointers = {}, pinch = null, lastTap = null;

function applyTouchZoom() {
  var b = $('vm-book');
  b.style.transformOrigin = '0 0';
  b.style.transform = touchZoom.scale > 1 ? 'translate(' + touchZoom.x.toFixed(1) + 'px,' +
    touchZoom.y.toFixed(1) + 'px) scale(' + touchZoom.scale.toFixed(3) + ')' : '';
  app.classList.toggle('vm-touch-zoomed', touchZoom.scale > 1);
  scheduleTiles();
}

// The zoom as it is now, with the book's untransformed corner on screen (the transform's
// origin is the book's corner, so the box on screen is that corner moved by the translation).
function zoomStart() {
  var r = $('vm-book').getBoundingClientRect();
  return { scale: touchZoom.scale, x: touchZoom.x, y: touchZoom.y, left: r.left - touchZoom.x, top: r.top - touchZoom.y };
}

// Scales the book to `scale` from the zoom `start`, moving the book point that was under
// screen point `from` at the start to `to`. Every move of a gesture is computed from its
// start, never from the box on screen, so that no error adds up over the moves.
function zoomAt(start, scale, from, to) {
  var lx = (from.x - start.left - start.x) / start.scale, ly = (from.y - start.top - start.y) / start.scale;
  touchZoom.scale = clamp(scale, 1, 4);
  touchZoom.x = to.x - start.left - lx * touchZoom.scale;
  touchZoom.y = to.y - start.top - ly * touchZoom.scale;
  keepInView(start);
  applyTouchZoom();
}

// Limits the translation so that the zoomed book covers at least half of the stage in
// each direction (half of the book where it is smaller): the page never leaves the screen.
// Under scale 1 the book is back at its fitted place.
function keepInView(corner) {
  if (touchZoom.scale <= 1) { touchZoom = { scale: 1, x: 0, y: 0 }; return; }
  var b = $('vm-book'), st = $('vm-stage').getBoundingClientRect();
  touchZoom.x = keepAxis(touchZoom.x, corner.left, b.offsetWidth * touchZoom.scale, st.left, st.right);
  touchZoom.y = keepAxis(touchZoom.y, corner.top, b.offsetHeight * touchZoom.scale, st.top, st.bottom);
}
function keepAxis(t, corner, size, lo, hi) {
  var keep = Math.min(size, hi - lo) / 2;
  return clamp(t, lo + keep - corner - size, hi - keep - corner);
}

function resetTouchZoom() {
  if (touchZoom.scale === 1) return;
  touchZoom = { scale: 1, x: 0, y: 0 };
  applyTouchZoom();
}

function touchPoints() { return Object.keys(pointers).map(function (k) { return pointers[k]; }); }
function midpoint(a, b) { return { x: (a.x + b.x) / 2, y: (a.y + b.y) / 2 }; }
function distance(a, b) { return Math.hypot(a.x - b.x, a.y - b.y) || 1; }

function onTouchDown(e) {
  if (e.pointerType !== 'touch') return;
  pointers[e.pointerId] = { x: e.clientX, y: e.clientY, x0: e.clientX, y0: e.clientY, t0: Date.now() };
  var p = touchPoints();
  if (p.length === 2) {
    swipe = null; // two fingers zoom, they do not turn the page
    pinch = { dist: distance(p[0], p[1]), mid: midpoint(p[0], p[1]), start: zoomStart() };
  }
}

function onTouchMove(e) {
  var p = pointers[e.pointerId];
  if (!p) return;
  var dx = e.clientX - p.x, dy = e.clientY - p.y;
  p.x = e.clientX;
  p.y = e.clientY;
  var all = touchPoints();
  if (pinch && all.length >= 2) {
    zoomAt(pinch.start, pinch.start.scale * distance(all[0], all[1]) / pinch.dist, pinch.mid, midpoint(all[0], all[1]));
  } else if (touchZoom.scale > 1) {
    // One finger pans the zoomed page instead of turning it.
    swipe = null;
    var corner = zoomStart();
    touchZoom.x += dx;
    touchZoom.y += dy;
    keepInView(corner);
    applyTouchZoom();
  }
}

function onTouchUp(e) {
  var p = pointers[e.pointerId];
  if (!p) return;
  delete pointers[e.pointerId];
  var wasPinch = !!pinch;
  if (touchPoints().length < 2) pinch = null;
  if (wasPinch || touchPoints().length || e.type === 'pointercancel') { lastTap = null; return; }
  var moved = Math.hypot(e.clientX - p.x0, e.clientY - p.y0), now = Date.now();
  if (moved > 12 || now - p.t0 > 400 || (e.target.closest && e.target.closest('a, button, .vm-edge'))) {
    lastTap = null;
    return;
  }
  // A second tap close to the first zooms in there, or back out.
  if (lastTap && now - lastTap.t < 350 && Math.hypot(e.clientX - lastTap.x, e.clientY - lastTap.y) < 40) {
    clearTimeout(lastTap.timer);
    lastTap = null;
    var at = { x: e.clientX, y: e.clientY };
    if (touchZoom.scale > 1) resetTouchZoom(); else zoomAt(zoomStart(), 2.5, at, at);
    return;
  }
  // A single tap (once no second one follows) brings the toolbar back or sends it away.
  var tap = { x: e.clientX, y: e.clientY, t: now };
  tap.timer = setTimeout(function () {
    if (lastTap !== tap) return;
    lastTap = null;
    if (isPhone()) showBar(app.classList.contains('vm-bar-off'));
  }, 360);
  lastTap = tap;
}
