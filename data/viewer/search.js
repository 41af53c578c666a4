// ----- Search ------------------------------------------------------------------------------

function escapeRe(s) { return s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&'); }

// Pages whose text holds the query (case-insensitive, any run of blanks matching a
// blank), each with an excerpt around the first match: [{page, before, match, after}].
// `pages` are the texts of the pages from page `first` on.
function findPages(pages, query, first) {
  var q = query.replace(/\s+/g, ' ').trim();
  if (!q) return [];
  var re = new RegExp(escapeRe(q).replace(/ /g, '\\s+'), 'iu');
  var out = [];
  for (var i = 0; i < pages.length; i++) {
    var t = String(pages[i] || '');
    var m = re.exec(t);
    if (!m) continue;
    var a = m.index, b = a + m[0].length;
    var s = Math.max(0, a - 40), e = Math.min(t.length, b + 80);
    var before = t.slice(s, a).replace(/\s+/g, ' ');
    var after = t.slice(b, e).replace(/\s+/g, ' ');
    // An excerpt that starts or ends inside the text loses its cut word.
    if (s > 0) before = '…' + before.replace(/^\S*\s?/, '');
    if (e < t.length) after = after.replace(/\s?\S*$/, '') + '…';
    out.push({ page: first + i, before: before, match: t.slice(a, b), after: after });
  }
  return out;
}

// The hit list grows piece by piece as the text comes in; a new search drops what an
// earlier one still had to add.
var searchCount = 0;
function runSearch(e) {
  if (e) e.preventDefault();
  var query = $('vm-search-box').value;
  var status = $('vm-search-status'), list = $('vm-results');
  var ticket = ++searchCount, count = 0;
  list.textContent = '';
  state.query = query;
  refreshHits();
  if (!query.trim()) { status.textContent = ''; return; }
  status.textContent = text('loading', 'Loading…');
  eachTextPiece(function (t) {
    if (ticket !== searchCount) return;
    var found = findPages(t.pages, query, t.first);
    count += found.length;
    if (count) status.textContent = text('found', 'Pages found:') + ' ' + count + ' ' + text('loading', 'Loading…');
    list.appendChild(resultItems(found));
  }).then(function (any) {
    if (ticket !== searchCount) return;
    if (!any) status.textContent = text('notext', 'This book has no searchable text.');
    else status.textContent = count ? text('found', 'Pages found:') + ' ' + count : text('noresult', 'No page contains this text.');
  });
}

function resultItems(found) {
  var frag = doc.createDocumentFragment();
  found.forEach(function (r) {
    var li = doc.createElement('li'), b = doc.createElement('button');
    b.type = 'button';
    b.className = 'vm-result';
    b.dataset.page = r.page;
    var pg = doc.createElement('span');
    pg.className = 'vm-result-page';
    pg.textContent = text('page', 'Page') + ' ' + pageName(r.page);
    var ex = doc.createElement('span');
    ex.className = 'vm-result-text';
    var mark = doc.createElement('mark');
    mark.textContent = r.match;
    ex.appendChild(doc.createTextNode(r.before));
    ex.appendChild(mark);
    ex.appendChild(doc.createTextNode(r.after));
    b.appendChild(pg);
    b.appendChild(ex);
    li.appendChild(b);
    frag.appendChild(li);
  });
  return frag;
}
