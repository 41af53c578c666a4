// ----- Panels ------------------------------------------------------------------------------

var panels = { 'vm-thumbs': 'vm-thumbs-btn', 'vm-search': 'vm-search-btn', 'vm-note': 'vm-note-btn', 'vm-print': 'vm-print-btn' };

function togglePanel(id, open) {
  var panel = $(id);
  if (open === undefined) open = panel.hidden;
  Object.keys(panels).forEach(function (other) {
    if (other !== id && open) setPanel(other, false);
  });
  setPanel(id, open);
  if (open) {
    if (id === 'vm-thumbs') buildThumbs();
    if (id === 'vm-note') showNotes();
    if (id === 'vm-print') preparePrint();
    var first = panel.querySelector({ 'vm-search': 'input', 'vm-thumbs': '[aria-current]', 'vm-contents': '[aria-current], nav a' }[id] ||
      'textarea, input, button');
    if (first) first.focus();
  }
}

function setPanel(id, open) {
  var panel = $(id), btn = $(panels[id]);
  if (!panel) return;
  var was = !panel.hidden;
  panel.hidden = !open;
  if (btn) btn.setAttribute('aria-expanded', String(open));
  if (was && !open && btn && panel.contains(doc.activeElement)) btn.focus();
}

function closeAll() {
  if (!$('vm-zoom').hidden) { setZoom(false); return; }
  if ($('vm-menu') && !$('vm-menu').hidden) { setMenu(false); return; }
  Object.keys(panels).forEach(function (id) { setPanel(id, false); });
}

// ----- Thumbnails --------------------------------------------------------------------------

var thumbsBuilt = false;
function buildThumbs() {
  if (thumbsBuilt) { updateThumbCurrent(); return; }
  thumbsBuilt = true;
  var list = $('vm-thumb-list'), frag = doc.createDocumentFragment();
  var tw = 60, th = Math.round(60 / book.aspect);
  for (var n = 1; n <= book.pages; n++) {
    var li = doc.createElement('li'), b = doc.createElement('button'), img = doc.createElement('img');
    b.type = 'button';
    b.className = 'vm-thumb';
    b.dataset.page = n;
    img.loading = 'lazy';
    img.alt = '';
    img.width = tw;
    img.height = th;
    img.src = book.base + 'thumb/img-' + n + '-e.jpg';
    var cap = doc.createElement('span');
    cap.textContent = pageName(n);
    b.setAttribute('aria-label', text('page', 'Page') + ' ' + pageName(n));
    b.appendChild(img);
    b.appendChild(cap);
    li.appendChild(b);
    frag.appendChild(li);
  }
  list.appendChild(frag);
  list.addEventListener('click', function (e) {
    var b = e.target.closest('.vm-thumb');
    if (!b) return;
    setPanel('vm-thumbs', false);
    goTo(+b.dataset.page);
    $('vm-stage').focus({ preventScroll: true });
  });
  updateThumbCurrent();
}

function updateThumbCurrent() {
  if (!thumbsBuilt) return;
  var shown = visiblePages();
  var items = $('vm-thumb-list').querySelectorAll('.vm-thumb');
  for (var i = 0; i < items.length; i++) {
    var on = shown.indexOf(+items[i].dataset.page) >= 0;
    if (on) items[i].setAttribute('aria-current', 'page'); else items[i].removeAttribute('aria-current');
  }
  var cur = $('vm-thumb-list').querySelector('[aria-current]');
  if (cur && !$('vm-thumbs').hidden) cur.scrollIntoView({ block: 'nearest' });
}
