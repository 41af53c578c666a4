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
  q.set('src', book.base + 'print/');
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
  var addr = printAddress(what);
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
