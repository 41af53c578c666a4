// ----- Touch zoom: pinch, double tap, and panning the zoomed page ---------------------

var touchZoom = { scale: 1, x: 0, y: 0 }, pointers = {}, pinch = null, lastTap = null;

function applyTouchZoom() {
  var b = $('vm-book');
  b.style.transformOrigin = '0 0';
  b.style.transform = touchZoom.scale > 1 ? 'translate(' + touchZoom.x.toFixed(1) + 'px,' +
    touchZoom.y.toFixed(1) + 'px) scale(' + touchZoom.scale.toFixed(3) + ')' : '';
  app.classList.toggle('vm-touch-zoomed', touchZoom.scale > 1);
}

// Scales the book to `scale`, moving the book point under screen point `from` to `to`.
function zoomAt(scale, from, to) {
  var r = $('vm-book').getBoundingClientRect();
  var lx = (from.x - r.left) / touchZoom.scale, ly = (from.y - r.top) / touchZoom.scale;
  var ox = r.left - touchZoom.x, oy = r.top - touchZoom.y; // the corner without the transform
  touchZoom.scale = clamp(scale, 1, 4);
  touchZoom.x = touchZoom.scale > 1 ? to.x - ox - lx * touchZoom.scale : 0;
  touchZoom.y = touchZoom.scale > 1 ? to.y - oy - ly * touchZoom.scale : 0;
  applyTouchZoom();
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
    pinch = { dist: distance(p[0], p[1]), mid: midpoint(p[0], p[1]), scale: touchZoom.scale, x: touchZoom.x, y: touchZoom.y };
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
    touchZoom = { scale: pinch.scale, x: pinch.x, y: pinch.y };
    zoomAt(pinch.scale * distance(all[0], all[1]) / pinch.dist, pinch.mid, midpoint(all[0], all[1]));
  } else if (touchZoom.scale > 1) {
    // One finger pans the zoomed page instead of turning it.
    swipe = null;
    touchZoom.x += dx;
    touchZoom.y += dy;
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
    if (touchZoom.scale > 1) resetTouchZoom(); else zoomAt(2.5, at, at);
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
