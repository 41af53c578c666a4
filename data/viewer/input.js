// ----- Input: keyboard, wheel, page edges, swipe -----------------------------------------

function isTextInput(el) {
  if (!el) return false;
  var tag = el.tagName;
  return tag === 'INPUT' || tag === 'TEXTAREA' || tag === 'SELECT' || el.isContentEditable;
}

function onKey(e) {
  if (e.key === 'Escape') { closeAll(); return; }
  if (e.altKey || e.ctrlKey || e.metaKey || isTextInput(e.target)) return;
  if (!$('vm-zoom').hidden && /^Arrow/.test(e.key)) return; // arrows pan the zoomed page
  // Left and right follow the reading direction.
  var act = {
    ArrowRight: state.rtl ? prev : next, ArrowDown: next, PageDown: next,
    ArrowLeft: state.rtl ? next : prev, ArrowUp: prev, PageUp: prev,
    Home: function () { return goTo(1); },
    End: function () { return goTo(book.pages); }
  }[e.key];
  if (!act) return;
  // Arrow keys keep their meaning inside panels (lists scroll with them).
  if (e.target.closest && e.target.closest('.vm-panel') && /^Arrow/.test(e.key)) return;
  e.preventDefault();
  act(e.repeat);
}

var wheelSum = 0, wheelLock = 0;
function onWheel(e) {
  if (!$('vm-zoom').hidden || e.ctrlKey) return;
  e.preventDefault();
  var now = Date.now();
  if (now < wheelLock) return;
  wheelSum += Math.abs(e.deltaY) >= Math.abs(e.deltaX) ? e.deltaY : e.deltaX;
  if (Math.abs(wheelSum) < 40) return;
  var fwd = wheelSum > 0;
  wheelSum = 0;
  wheelLock = now + 400; // one turn per flick of the wheel
  if (fwd) next(); else prev();
}

var swipe = null;
function onPointerDown(e) {
  if (e.pointerType === 'mouse' || touchZoom.scale > 1) return;
  swipe = { x: e.clientX, y: e.clientY, id: e.pointerId };
}
function onPointerUp(e) {
  if (!swipe || e.pointerId !== swipe.id) return;
  var dx = e.clientX - swipe.x, dy = e.clientY - swipe.y;
  swipe = null;
  if (Math.abs(dx) > 40 && Math.abs(dx) > 1.5 * Math.abs(dy)) {
    if ((dx < 0) !== state.rtl) next(); else prev();
  }
}
