// ----- E-mail, print, full screen --------------------------------------------------------

// The address a reader passes on: the book's own, at the page being read. (Not the
// service page: a web server that knows no type for .asp may offer it as a download.)
function bookAddress() { return location.href.split('#')[0] + '#page=' + state.page; }

function updateMail() {
  var a = $('vm-email');
  if (!a) return;
  var subject = book.title || text('book', 'Book');
  var body = text('mailBody', '') + '\n' + bookAddress();
  a.href = 'mailto:?subject=' + encodeURIComponent(subject) + '&body=' + encodeURIComponent(body.trim());
}

function preparePrint() {
  var pages = visiblePages();
  $('vm-print-from').max = $('vm-print-to').max = book.pages;
  $('vm-print-from').value = pages[0];
  $('vm-print-to').value = pages[pages.length - 1];
}

// Address of the print view for the chosen pages: "current", "range" or "all".
function printAddress(what) {
  var list;
  if (what === 'all') list = '1-' + book.pages;
  else if (what === 'range') {
    var a = clamp(parseInt($('vm-print-from').value, 10) || 1, 1, book.pages);
    var b = clamp(parseInt($('vm-print-to').value, 10) || a, 1, book.pages);
    list = Math.min(a, b) + '-' + Math.max(a, b);
  } else list = visiblePages().join(',');
  var q = new URLSearchParams();
  // Pages print from one of the book's own image sets (its background and text layers);
  // a page that names none prints from the print set books made before had.
  var set = String(app.dataset.printSet || '').trim();
  q.set('src', book.base + (set || 'print') + '/');
  if (set) q.set('layers', '1');
  q.set('pages', list);
  q.set('title', book.title || '');
  q.set('label', text('print', 'Print'));
  q.set('page', text('page', 'Page'));
  q.set('auto', '1');
  return book.printPage + '?' + q.toString();
}

function openPrint(e) {
  e.preventDefault();
  var form = $('vm-print-form');
  var what = (form.querySelector('input[name="vm-print-what"]:checked') || {}).value || 'current';
  // The whole book prints best from the PDF itself, where the publisher offers it.
  var pdf = $('vm-download');
  var addr = what === 'all' && pdf && pdf.href ? pdf.href : printAddress(what);
  // Where pop-ups are blocked, the print view opens in place of the book.
  if (!window.open(addr, '_blank')) location.assign(addr);
}

function fullscreenElement() { return doc.fullscreenElement || doc.webkitFullscreenElement || null; }
function toggleFullscreen() {
  var el = doc.documentElement;
  if (fullscreenElement()) (doc.exitFullscreen || doc.webkitExitFullscreen).call(doc);
  else {
    var req = el.requestFullscreen || el.webkitRequestFullscreen;
    var r = req && req.call(el);
    if (r && r.catch) r.catch(function () {});
  }
}
function onFullscreenChange() {
  $('vm-full-btn').setAttribute('aria-pressed', String(!!fullscreenElement()));
}

// ----- Share and download ----------------------------------------------------------------

// The phone's share sheet where the browser has one; otherwise (or when the sheet fails
// for another reason than the reader closing it) the address goes to the clipboard.
function shareBook() {
  var addr = bookAddress();
  if (navigator.share) {
    var shared = navigator.share({ title: book.title || doc.title, url: addr });
    if (shared && shared.catch) {
      shared.catch(function (e) { if (!e || e.name !== 'AbortError') copyAddress(addr); });
      return;
    }
  }
  copyAddress(addr);
}

function copyAddress(addr) {
  var done = function () { confirmShare(text('copied', 'Link copied'), ''); };
  // The asynchronous clipboard needs a secure page; elsewhere a selected text is copied.
  var fallback = function () { if (copyBySelection(addr)) done(); else confirmShare(text('copyFail', 'Copy this link:'), addr); };
  if (navigator.clipboard && navigator.clipboard.writeText) navigator.clipboard.writeText(addr).then(done, fallback);
  else fallback();
}

function copyBySelection(value) {
  var area = doc.createElement('textarea');
  area.value = value;
  area.setAttribute('readonly', '');
  area.className = 'vm-sr';
  doc.body.appendChild(area);
  area.select();
  var ok = false;
  try { ok = doc.execCommand('copy'); } catch (e) { ok = false; }
  area.remove();
  return ok;
}

// A short note under the toolbar; where nothing could be copied it shows the address
// itself, selectable, for the reader to copy by hand.
var shareNoteTimer = 0;
function confirmShare(message, addr) {
  var note = $('vm-share-note');
  if (!note) return;
  note.textContent = message;
  if (addr) {
    var a = doc.createElement('a');
    a.href = addr;
    a.textContent = addr;
    note.appendChild(doc.createTextNode(' '));
    note.appendChild(a);
  }
  note.hidden = false;
  clearTimeout(shareNoteTimer);
  shareNoteTimer = setTimeout(function () { note.hidden = true; }, addr ? 15000 : 3000);
}

// The PDF the publisher offers beside the book: the page names it, the button fetches it.
function setupShareButtons() {
  var share = $('vm-share-btn'), down = $('vm-download');
  if (share) share.addEventListener('click', shareBook);
  if (!down) return;
  var pdf = String(app.dataset.pdf || '').trim();
  if (!pdf) { down.remove(); return; }
  down.href = resolve(pdf);
  down.setAttribute('aria-label', text('download', 'Download the PDF'));
  down.title = text('download', 'Download the PDF');
}
