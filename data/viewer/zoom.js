// ----- Zoom --------------------------------------------------------------------------------

function setZoom(on) {
  var zoom = $('vm-zoom');
  if (on === !zoom.hidden) return;
  zoom.hidden = !on;
  app.classList.toggle('vm-zoomed', on);
  $('vm-zoom-btn').setAttribute('aria-pressed', String(on));
  if (on) { closePanelsOnly(); showZoom(); $('vm-zoom-view').focus({ preventScroll: true }); }
  else {
    $('vm-zoom-view').textContent = '';
    delete $('vm-zoom-view').dataset.pages;
    $('vm-zoom-btn').focus();
  }
}

function closePanelsOnly() { Object.keys(panels).forEach(function (id) { setPanel(id, false); }); }

// The zoom images (folder 100) are fetched only here, at their own pixel size; where the
// screen has more pixels than they do, the tiles sharpen their text.
function showZoom() {
  var view = $('vm-zoom-view');
  var key = visiblePages().join(',');
  if (view.dataset.pages === key) return;
  view.dataset.pages = key;
  view.textContent = '';
  var row = doc.createElement('div');
  row.className = 'vm-zoom-row';
  visiblePages().forEach(function (n) {
    var page = doc.createElement('div');
    page.className = 'vm-zoom-page';
    page.dataset.page = n;
    var bg = doc.createElement('img'), fg = doc.createElement('img');
    bg.className = 'vm-bg';
    bg.dataset.page = n;
    bg.alt = altText(n);
    bg.draggable = fg.draggable = false;
    fg.className = 'vm-fg';
    fg.alt = '';
    fg.onerror = function () { fg.hidden = true; };
    // Until the zoom image arrives, a page-sized frame with the loading sign stands in.
    if (book.zoomFrame) {
      page.classList.add('vm-loading');
      page.style.minWidth = book.zoomFrame[0] + 'px';
      page.style.minHeight = book.zoomFrame[1] + 'px';
      bg.onload = bg.onerror = function () { page.classList.remove('vm-loading'); page.style.minWidth = page.style.minHeight = ''; };
    }
    bg.src = pageImage('100', n, false);
    fg.src = pageImage('100', n, true);
    page.appendChild(bg);
    page.appendChild(fg);
    addLayers(page, n);
    row.appendChild(page);
  });
  view.appendChild(row);
  view.scrollLeft = 0;
  view.scrollTop = 0;
  scheduleTiles();
}

// Dragging pans the zoomed page.
function enablePan(view) {
  var drag = null;
  // What comes into view gets its tiles.
  view.addEventListener('scroll', scheduleTiles, { passive: true });
  view.addEventListener('pointerdown', function (e) {
    // A link of the zoomed page is clicked, not dragged.
    if (e.button !== 0 || e.target.closest('a')) return;
    drag = { x: e.clientX, y: e.clientY, l: view.scrollLeft, t: view.scrollTop };
    view.setPointerCapture(e.pointerId);
    view.classList.add('vm-dragging');
  });
  view.addEventListener('pointermove', function (e) {
    if (!drag) return;
    view.scrollLeft = drag.l - (e.clientX - drag.x);
    view.scrollTop = drag.t - (e.clientY - drag.y);
  });
  function end() { drag = null; view.classList.remove('vm-dragging'); }
  view.addEventListener('pointerup', end);
  view.addEventListener('pointercancel', end);
}
