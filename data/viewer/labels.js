// ----- Page labels ---------------------------------------------------------------------

function pageLabel(n) {
  var p = book.layout && book.layout.pages[n - 1];
  return p && typeof p.label === 'string' && p.label ? p.label : '';
}
// How a page is named to the reader: its label when the book has labels, else its number.
function pageName(n) { return pageLabel(n) || String(n); }

// The page a reader means by what they typed: a page label first ("iv", "A-3", "12"
// when page 14 is labelled 12), else a page number.
function pageFromInput(value) {
  var v = String(value || '').trim();
  if (!v) return 0;
  if (book.layout) {
    var low = v.toLowerCase();
    for (var n = 1; n <= book.pages; n++) if (pageLabel(n).toLowerCase() === low) return n;
  }
  return /^\d+$/.test(v) ? parseInt(v, 10) : 0;
}

// A toolbar button that opens the panel `controls`, drawn as one SVG path.
function panelButton(id, label, controls, path) {
  var btn = doc.createElement('button');
  btn.type = 'button';
  btn.id = id;
  btn.className = 'vm-btn';
  btn.setAttribute('aria-label', label);
  btn.title = label;
  btn.setAttribute('aria-expanded', 'false');
  btn.setAttribute('aria-controls', controls);
  btn.innerHTML = '<svg aria-hidden="true" viewBox="0 0 24 24"><path d="' + path + '"/></svg>';
  return btn;
}
