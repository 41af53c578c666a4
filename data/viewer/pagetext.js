// ----- Page text (txt.js), loaded once with a script element so that file:// works --------

var textPromise = null;
function loadText() {
  if (textPromise) return textPromise;
  textPromise = new Promise(function (done) {
    if (window.VELLUMARK_BOOK_TEXT) { done(window.VELLUMARK_BOOK_TEXT); return; }
    var s = doc.createElement('script');
    s.src = book.base + 'txt.js';
    s.onload = function () { done(window.VELLUMARK_BOOK_TEXT || null); };
    s.onerror = function () { done(null); };
    doc.head.appendChild(s);
  }).then(function (t) {
    if (!t || !Array.isArray(t.pages)) return null;
    if (!book.title && t.title) setTitle(String(t.title));
    refreshAltTexts();
    if (book.layout) refreshLayers();
    return t;
  });
  return textPromise;
}

function pageText(n) {
  var t = window.VELLUMARK_BOOK_TEXT;
  return t && Array.isArray(t.pages) && typeof t.pages[n - 1] === 'string' ? t.pages[n - 1] : '';
}

function altText(n) {
  var label = text('page', 'Page') + ' ' + n;
  var body = pageText(n).replace(/\s+/g, ' ').trim();
  if (body.length > 300) body = body.slice(0, 300).replace(/\s\S*$/, '') + '…';
  return body ? label + ': ' + body : label;
}

function refreshAltTexts() {
  var imgs = doc.querySelectorAll('img.vm-bg[data-page]');
  for (var i = 0; i < imgs.length; i++) imgs[i].alt = altText(+imgs[i].dataset.page);
}

function setTitle(t) {
  book.title = t;
  if ($('vm-heading').textContent !== t) $('vm-heading').textContent = t;
  doc.title = t || text('book', 'Book');
}
