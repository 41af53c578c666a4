/* Book viewer shared by every book in the books folder.
 *
 * The book page (index.html, made from booklet.asp) carries the book's figures as data
 * attributes of #vm-app and its toolbar texts in #vm-texts; this script turns them into a
 * page-turning reader. It uses no other host and no module loader, so a book reads the same
 * from a file:// address, from a static web server and as an exported copy (whose page
 * refers to the shared files with " ./" instead of "../", hence the trimming of paths).
 * It is one file because it is the only script that publishing sends with the books.
 */
(function () {
  'use strict';

  var doc = document;
  function $(id) { return doc.getElementById(id); }
  function resolve(path) { return new URL(String(path || '').trim(), location.href).href; }
  function clamp(v, lo, hi) { return Math.max(lo, Math.min(hi, v)); }

  var app, book, texts, state;

  // ----- Book description -------------------------------------------------------------

  function readBook() {
    var d = app.dataset;
    var pages = Math.max(1, parseInt(d.pages, 10) || 1);
    var pw = parseInt(d.pageWidth, 10), ph = parseInt(d.pageHeight, 10);
    var res = String(d.res || '').split(',').map(function (item) {
      var f = item.trim().split(/\s+/);
      return { dir: f[0], w: parseInt(f[1], 10) || 0, h: parseInt(f[2], 10) || 0 };
    }).filter(function (r) { return r.dir && (r.w > 0 || r.h > 0); });
    var aspect = pw > 0 && ph > 0 ? pw / ph : 0.75;
    var zoom = String(d.zoomFrame || '').trim().split(/\s+/).map(Number);
    return {
      pages: pages,
      aspect: aspect,
      id: String(d.book || '').trim(),
      base: resolve(d.images || './'),
      res: res.length ? res : [{ dir: 'MedRes', w: 580, h: 650 }],
      zoomFrame: zoom.length === 2 && zoom[0] > 0 && zoom[1] > 0 ? zoom : null,
      printPage: resolve(d.print || '../print.html'),
      title: readTitle(),
      layout: null
    };
  }

  // The page generator writes the title (escaped) into the heading.
  function readTitle() {
    var el = $('vm-heading');
    return el ? el.textContent.trim() : '';
  }

  function text(key, fallback) {
    var v = texts && texts.dataset[key];
    return v && v.trim() ? v : fallback;
  }

  // Image of page n in one of the image folders; "-f.png" is the foreground layer.
  function pageImage(dir, n, fg) { return book.base + dir + '/img-' + n + (fg ? '-f.png' : '.jpg'); }

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

  // ----- Page layout (layout.js): words, links, labels, outline, direction ---------------
  // Books made before layout.js existed have no data-layout attribute, so nothing is
  // requested for them and they read exactly as before.

  var layoutPromise = null;
  function loadLayout() {
    if (layoutPromise) return layoutPromise;
    var name = String(app.dataset.layout || '').trim();
    layoutPromise = new Promise(function (done) {
      if (!name) { done(null); return; }
      var s = doc.createElement('script');
      s.src = book.base + name;
      s.onload = function () { done(window.VELLUMARK_BOOK_LAYOUT || null); };
      s.onerror = function () { done(null); };
      doc.head.appendChild(s);
    }).then(function (L) {
      // A file of a later format than this viewer knows is left alone.
      if (!L || (L.version !== 1 && L.version !== 2) || !Array.isArray(L.pages) || !(L.unit > 0)) return null;
      book.layout = L;
      return L;
    });
    return layoutPromise;
  }

  function layoutPage(n) {
    var L = book.layout;
    var p = L && L.pages[n - 1];
    if (!p || typeof p.lines !== 'string') return null;
    if (L.version === 1 && !Array.isArray(p.links)) return null;
    return p;
  }

  // Layout positions as fractions of the page: version 1 counts parts of the page's
  // width and height, version 2 parts of a point.
  function fracX(p, v) { return book.layout.version === 1 ? v / book.layout.unit : v / book.layout.unit / p.w; }
  function fracY(p, v) { return book.layout.version === 1 ? v / book.layout.unit : v / book.layout.unit / p.h; }

  // The numbers of a page's "lines". Version 1: pairs of base-64 digits. Version 2:
  // digits from 56 up carry a number's high part (three bits each), a lower digit ends it.
  var DIGITS = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
  function layoutNumbers(packed, version) {
    var out = [], high = 0;
    for (var i = 0; i < packed.length; i++) {
      var d = DIGITS.indexOf(packed[i]);
      if (d < 0) return null;
      if (version === 1) {
        if (i % 2) out.push(high * 64 + d); else high = d;
      } else if (d >= 56) high = high * 8 + d - 56;
      else { out.push(high * 56 + d); high = 0; }
    }
    return out;
  }
  // Version 2 folds differences onto 0, 1, 2, ...: 0, -1, 1, -2, ...
  function unfold(n) { return n % 2 ? -(n + 1) / 2 : n / 2; }

  // The words of a page (from txt.js) with their boxes (fractions of the page), by line;
  // null until both files are in, or when they do not fit together.
  var wordCache = {};
  function pageWords(n) {
    if (wordCache[n]) return wordCache[n];
    var p = layoutPage(n), text = pageText(n);
    if (!p || !p.lines || !text || !(p.w > 0 && p.h > 0)) return null;
    var v1 = book.layout.version === 1, v = layoutNumbers(p.lines, book.layout.version);
    if (!v) return null;
    var at = 0, words = [], lines = [], bottom = 0, firstLeft = 0;
    text.split('\n').forEach(function (lineText) {
      var parts = lineText.split(/\s+/).filter(Boolean);
      if (!parts.length) return;
      // Version 1 gives edges from the page's edges; version 2 differences (see
      // docs/book-folder.md): the top below the last line, the first word's left edge
      // from the last line's first word, every other left edge from the word before.
      var top = v1 ? v[at] : bottom + unfold(v[at]), height = v[at + 1], right = 0, line = [];
      at += 2;
      bottom = top + height;
      parts.forEach(function (w, i) {
        var left = v1 ? v[at] : unfold(v[at]) + (i ? right : firstLeft);
        if (!v1 && !i) firstLeft = left;
        right = left + v[at + 1];
        var word = { text: w, x: fracX(p, left), y: fracY(p, top), w: fracX(p, v[at + 1]), h: fracY(p, height) };
        at += 2;
        words.push(word);
        line.push(word);
      });
      lines.push(line);
    });
    if (at !== v.length || words.some(function (w) { return !isFinite(w.x) || !isFinite(w.y); })) return null;
    wordCache[n] = { words: words, lines: lines, aspect: p.w / p.h };
    return wordCache[n];
  }

  function pct(v) { return (v * 100).toFixed(3) + '%'; }
  function place(el, x, y, w, h) {
    el.style.left = pct(x); el.style.top = pct(y); el.style.width = pct(w); el.style.height = pct(h);
  }

  // Invisible text over the page image, one element per line, so that a reader can select
  // and copy the words and a screen reader reads them. Each line gets the font size that
  // makes it as wide as on the page (in container units, so it fits at every size);
  // browsers hit-test scaled text unreliably, so no transform is used.
  var measureCtx = null;
  function textWidth(t) {
    if (!measureCtx) { measureCtx = doc.createElement('canvas').getContext('2d'); measureCtx.font = '100px sans-serif'; }
    return measureCtx.measureText(t).width / 100;
  }
  function textLayer(n) {
    var info = pageWords(n);
    if (!info) return null;
    var layer = doc.createElement('div');
    layer.className = 'vm-text';
    info.lines.forEach(function (line) {
      var x0 = 1, y0 = 1, x1 = 0, y1 = 0;
      line.forEach(function (w) {
        x0 = Math.min(x0, w.x); y0 = Math.min(y0, w.y);
        x1 = Math.max(x1, w.x + w.w); y1 = Math.max(y1, w.y + w.h);
      });
      var t = line.map(function (w) { return w.text; }).join(' ');
      var el = doc.createElement('span');
      el.textContent = t;
      // An Arabic or Hebrew line lays out right to left, its words over their images.
      el.dir = 'auto';
      el.style.left = pct(x0);
      el.style.top = pct(y0);
      // The width-fitting size, within reason of the line's height (a font far narrower
      // than the page's would otherwise make a giant line).
      var byHeight = (y1 - y0) * 0.85 / info.aspect, em = textWidth(t);
      var size = em > 0 ? Math.min((x1 - x0) / em, 1.6 * byHeight) : byHeight;
      el.style.fontSize = (size * 100).toFixed(3) + 'cqw';
      layer.appendChild(el);
      // Copied text keeps its line breaks.
      layer.appendChild(doc.createElement('br'));
    });
    return layer;
  }

  // Link areas: pages of the book turn in place, web and mail addresses open in a new tab.
  function linkLayer(n) {
    var p = layoutPage(n);
    if (!p || !Array.isArray(p.links) || !p.links.length) return null;
    var layer = doc.createElement('div');
    layer.className = 'vm-links';
    p.links.forEach(function (l) {
      var target = l[4], a = doc.createElement('a');
      a.className = 'vm-link';
      if (typeof target === 'number') {
        if (target < 1 || target > book.pages) return;
        a.href = '#page=' + target;
        a.dataset.page = target;
        a.setAttribute('aria-label', text('page', 'Page') + ' ' + pageName(target));
      } else if (/^(https?:\/\/|mailto:)/i.test(String(target))) {
        a.href = target;
        a.target = '_blank';
        a.rel = 'noopener noreferrer';
        a.setAttribute('aria-label', String(target).replace(/^mailto:/i, ''));
      } else return;
      place(a, fracX(p, l[0]), fracY(p, l[1]), fracX(p, l[2]), fracY(p, l[3]));
      layer.appendChild(a);
    });
    return layer.childNodes.length ? layer : null;
  }

  // The words of page n that a search query covers, as indices into pageWords(n).words.
  function hitWords(n, query) {
    var info = pageWords(n);
    var q = String(query || '').replace(/\s+/g, ' ').trim();
    if (!info || !q) return [];
    var joined = '', starts = [];
    info.words.forEach(function (w, i) { if (i) joined += ' '; starts.push(joined.length); joined += w.text; });
    var re = new RegExp(escapeRe(q).replace(/ /g, '\\s+'), 'giu'), out = [], m;
    while ((m = re.exec(joined))) {
      if (!m[0].length) { re.lastIndex++; continue; }
      var a = m.index, b = a + m[0].length;
      for (var i = 0; i < starts.length; i++) {
        var end = starts[i] + info.words[i].text.length;
        if (starts[i] < b && end > a && out.indexOf(i) < 0) out.push(i);
      }
    }
    return out;
  }

  function hitLayer(n) {
    var found = hitWords(n, state.query);
    if (!found.length) return null;
    var layer = doc.createElement('div'), words = pageWords(n).words;
    layer.className = 'vm-hits';
    layer.setAttribute('aria-hidden', 'true');
    found.forEach(function (i) {
      var w = words[i], mark = doc.createElement('div');
      mark.className = 'vm-hit';
      place(mark, w.x, w.y, w.w, w.h);
      layer.appendChild(mark);
    });
    return layer;
  }

  // Adds the layout layers of page n to a page element (the book's or the zoom view's).
  function addLayers(el, n) {
    if (!book.layout) return;
    [hitLayer(n), textLayer(n), linkLayer(n)].forEach(function (layer) { if (layer) el.appendChild(layer); });
  }

  // Once txt.js is in, the shown pages get their text layer (and marks).
  function refreshLayers() {
    var pages = doc.querySelectorAll('.vm-page[data-page], .vm-zoom-page[data-page]');
    for (var i = 0; i < pages.length; i++) {
      var old = pages[i].querySelectorAll('.vm-hits, .vm-text, .vm-links');
      for (var j = 0; j < old.length; j++) old[j].remove();
      addLayers(pages[i], +pages[i].dataset.page);
    }
  }

  function refreshHits() {
    var pages = doc.querySelectorAll('.vm-page[data-page], .vm-zoom-page[data-page]');
    for (var i = 0; i < pages.length; i++) {
      var old = pages[i].querySelector('.vm-hits');
      if (old) old.remove();
      var layer = hitLayer(+pages[i].dataset.page);
      if (layer) pages[i].insertBefore(layer, pages[i].querySelector('.vm-text, .vm-links'));
    }
  }

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

  // ----- Contents (the document outline) -------------------------------------------------

  function buildContents() {
    var L = book.layout;
    var entries = L && Array.isArray(L.outline) ? L.outline.filter(function (e) { return e && typeof e.title === 'string'; }) : [];
    if (!entries.length) return;
    var label = text('contents', 'Contents');
    var btn = panelButton('vm-contents-btn', label, 'vm-contents', 'M4 6h2M9 6h11M4 12h2M9 12h11M4 18h2M9 18h11');
    var thumbsBtn = $('vm-thumbs-btn');
    thumbsBtn.parentNode.insertBefore(btn, thumbsBtn);
    if (isPhone()) { placeMenuItems(false); placeMenuItems(true); }

    var panel = doc.createElement('aside');
    panel.id = 'vm-contents';
    panel.className = 'vm-panel';
    panel.hidden = true;
    panel.setAttribute('aria-labelledby', 'vm-contents-h');
    var head = doc.createElement('div');
    head.className = 'vm-panel-head';
    var h2 = doc.createElement('h2');
    h2.id = 'vm-contents-h';
    h2.textContent = label;
    var close = doc.createElement('button');
    close.type = 'button';
    close.className = 'vm-btn vm-close';
    close.setAttribute('aria-label', text('close', 'Close'));
    close.title = text('close', 'Close');
    close.innerHTML = '<svg aria-hidden="true"><use href="#vm-i-close"/></svg>';
    close.addEventListener('click', function () { setPanel('vm-contents', false); });
    head.appendChild(h2);
    head.appendChild(close);
    var nav = doc.createElement('nav');
    nav.setAttribute('aria-labelledby', 'vm-contents-h');
    // Nested lists follow the outline's levels, so a screen reader announces the depth.
    var root = doc.createElement('ul'), stack = [root], lastItem = null;
    root.className = 'vm-toc';
    entries.forEach(function (e) {
      var level = Math.max(1, Math.min(32, e.level | 0));
      while (stack.length < level && lastItem) {
        var sub = doc.createElement('ul');
        lastItem.appendChild(sub);
        stack.push(sub);
      }
      while (stack.length > level) stack.pop();
      var li = doc.createElement('li'), item;
      var target = e.page | 0;
      if (target >= 1 && target <= book.pages) {
        item = doc.createElement('a');
        item.href = '#page=' + target;
        item.dataset.page = target;
      } else item = doc.createElement('span');
      item.className = 'vm-toc-entry';
      item.textContent = e.title;
      li.appendChild(item);
      stack[stack.length - 1].appendChild(li);
      lastItem = li;
    });
    nav.appendChild(root);
    nav.addEventListener('click', function (ev) {
      var a = ev.target.closest('a[data-page]');
      if (!a) return;
      ev.preventDefault();
      setPanel('vm-contents', false);
      goTo(+a.dataset.page);
      $('vm-stage').focus({ preventScroll: true });
    });
    panel.appendChild(head);
    panel.appendChild(nav);
    $('vm-thumbs').parentNode.insertBefore(panel, $('vm-thumbs'));
    panels['vm-contents'] = 'vm-contents-btn';
    btn.addEventListener('click', function () { togglePanel('vm-contents'); });
    updateContentsCurrent();
  }

  // The entry of the section being read is marked for sighted and screen-reader users.
  function updateContentsCurrent() {
    var links = doc.querySelectorAll('#vm-contents a[data-page]');
    if (!links.length) return;
    var best = null;
    for (var i = 0; i < links.length; i++) {
      links[i].removeAttribute('aria-current');
      if (+links[i].dataset.page <= state.page) best = links[i];
    }
    if (best) best.setAttribute('aria-current', 'location');
  }

  // ----- Layout: spread or single page, page size, image resolution --------------------

  function computeLayout() {
    var stage = $('vm-stage');
    var w = stage.clientWidth, h = stage.clientHeight;
    var pad = Math.min(24, Math.max(8, Math.round(w * 0.02)));
    var aw = Math.max(50, w - 2 * pad), ah = Math.max(50, h - 2 * pad);
    // Two pages side by side only in a wide, landscape window; otherwise one page.
    var spread = book.pages > 1 && w >= 700 && w >= h;
    var ph = Math.min(ah, aw / (book.aspect * (spread ? 2 : 1)));
    var pw = ph * book.aspect;
    return { spread: spread, pw: Math.floor(pw), ph: Math.floor(ph), res: pickRes(ph) };
  }

  // The smallest image set whose pages are at least as large as the displayed page in
  // device pixels; the largest set when none is.
  function pickRes(ph) {
    var dpr = window.devicePixelRatio || 1;
    var need = ph * dpr * 0.95;
    var sets = book.res.slice().sort(function (a, b) { return imgHeight(a) - imgHeight(b); });
    for (var i = 0; i < sets.length; i++) if (imgHeight(sets[i]) >= need) return sets[i].dir;
    return sets[sets.length - 1].dir;
  }

  // Pixel height of a page image of a set: portrait pages are scaled to the set's
  // height, other pages to its width.
  function imgHeight(r) {
    if (book.aspect <= 1 || !r.w) return r.h || r.w / book.aspect;
    return r.w / book.aspect;
  }

  // ----- Spreads ----------------------------------------------------------------------------

  // Spread mode: the cover alone on the right, then pairs (2,3), (4,5), ...
  function spreadCount() { return state.layout.spread ? Math.floor(book.pages / 2) + 1 : book.pages; }
  function spreadOf(page) { return state.layout.spread ? Math.floor(page / 2) : page - 1; }
  // [left slot, right slot]; a right-to-left book shows each pair the other way round,
  // its lower page on the right.
  function spreadPages(k) {
    if (!state.layout.spread) return [k + 1];
    var l = 2 * k, r = 2 * k + 1;
    var pair = [l >= 1 && l <= book.pages ? l : 0, r <= book.pages ? r : 0];
    return state.rtl ? [pair[1], pair[0]] : pair;
  }
  function ascending(a, b) { return a - b; }
  function visiblePages() { return spreadPages(state.spread).filter(Boolean).sort(ascending); }

  function makePage(n) {
    var page = doc.createElement('div');
    page.className = 'vm-page';
    if (!n) { page.classList.add('vm-blank'); return page; }
    page.dataset.page = n;
    var bg = doc.createElement('img');
    bg.className = 'vm-bg';
    bg.dataset.page = n;
    bg.alt = altText(n);
    bg.draggable = false;
    bg.src = pageImage(state.layout.res, n, false);
    var fg = doc.createElement('img');
    fg.className = 'vm-fg';
    fg.alt = '';
    fg.draggable = false;
    fg.onerror = function () { fg.hidden = true; };
    fg.src = pageImage(state.layout.res, n, true);
    page.appendChild(bg);
    page.appendChild(fg);
    addLayers(page, n);
    page.classList.add('vm-loading');
    bg.onload = function () { page.classList.remove('vm-loading'); };
    bg.onerror = function () { page.classList.remove('vm-loading'); page.classList.add('vm-missing'); };
    return page;
  }

  function pageReady(page) {
    var imgs = page.querySelectorAll('img');
    return Promise.all(Array.prototype.map.call(imgs, function (img) {
      if (img.decode) return img.decode().catch(function () {});
      return new Promise(function (ok) { if (img.complete) ok(); else { img.onload = ok; img.onerror = ok; } });
    }));
  }

  function fill(slot, page) {
    slot.textContent = '';
    if (page) slot.appendChild(page);
  }

  function slots() {
    var el = $('vm-book');
    return { book: el, left: el.querySelector('.vm-left'), right: el.querySelector('.vm-right') };
  }

  function applyLayout() {
    var s = slots(), L = state.layout;
    s.book.classList.toggle('vm-spread', L.spread);
    s.book.style.width = (L.spread ? 2 * L.pw : L.pw) + 'px';
    s.book.style.height = L.ph + 'px';
  }

  // Shows spread k at once, without animation.
  function render() {
    var s = slots(), p = spreadPages(state.spread);
    var pages;
    if (state.layout.spread) {
      pages = [makePage(p[0]), makePage(p[1])];
      fill(s.left, pages[0]);
      fill(s.right, pages[1]);
    } else {
      pages = [makePage(p[0])];
      fill(s.left, pages[0]);
      fill(s.right, null);
    }
    return Promise.all(pages.map(pageReady));
  }

  // Neighbouring spreads are fetched ahead so that a turn finds its images in the cache.
  // Only the current neighbours are held, so a long read does not pile up decoded images.
  var preloaded = {};
  function preload() {
    var keep = {};
    [state.spread + 1, state.spread - 1].forEach(function (k) {
      if (k < 0 || k >= spreadCount()) return;
      spreadPages(k).forEach(function (n) {
        if (!n) return;
        [false, true].forEach(function (fg) {
          var src = pageImage(state.layout.res, n, fg);
          if (preloaded[src]) { keep[src] = preloaded[src]; return; }
          var img = new Image();
          img.src = src;
          keep[src] = img;
          // Decoding ahead keeps the decode off the frames of the turn.
          if (img.decode) img.decode().catch(function () {});
        });
      });
    });
    preloaded = keep;
  }

  // ----- Turning pages --------------------------------------------------------------------

  var TURN_MS = 650;
  var turning = null;

  function reducedMotion() {
    return window.matchMedia && window.matchMedia('(prefers-reduced-motion: reduce)').matches;
  }

  function goTo(page) {
    page = clamp(Math.round(page) || 1, 1, book.pages);
    var target = spreadOf(page);
    if (turning) turning.finish();
    if (target !== state.spread) resetTouchZoom();
    var from = state.spread;
    state.page = page;
    state.spread = target;
    var shown;
    if (target === from) shown = Promise.resolve();
    else if (reducedMotion() || !state.shown) shown = render();
    else shown = turn(from, target);
    afterMove();
    return shown;
  }

  // One leaf turns over the spine: forward it carries the right page away and shows the
  // target's left page on its back; backward the mirror image.
  function turn(from, to) {
    // In a right-to-left book a forward turn moves like a backward one of other books.
    var s = slots(), fwd = (to > from) !== state.rtl;
    var cur = spreadPages(from), tgt = spreadPages(to);
    var leaf = doc.createElement('div');
    leaf.className = 'vm-leaf ' + (fwd ? 'vm-leaf-fwd' : 'vm-leaf-back');
    var front = doc.createElement('div'), back = doc.createElement('div');
    front.className = 'vm-face vm-front';
    back.className = 'vm-face vm-back';
    var keyframes, under;
    if (state.layout.spread) {
      if (fwd) {
        front.appendChild(makePage(cur[1]));
        back.appendChild(makePage(tgt[0]));
        fill(s.right, makePage(tgt[1]));
        under = function () { fill(s.left, makePage(tgt[0])); };
        keyframes = [{ transform: 'rotateY(0deg)' }, { transform: 'rotateY(-180deg)' }];
      } else {
        front.appendChild(makePage(cur[0]));
        back.appendChild(makePage(tgt[1]));
        fill(s.left, makePage(tgt[0]));
        under = function () { fill(s.right, makePage(tgt[1])); };
        keyframes = [{ transform: 'rotateY(0deg)' }, { transform: 'rotateY(180deg)' }];
      }
    } else if (fwd) {
      front.appendChild(makePage(cur[0]));
      fill(s.left, makePage(tgt[0]));
      under = function () {};
      keyframes = [{ transform: 'rotateY(0deg)' }, { transform: 'rotateY(-180deg)' }];
    } else {
      front.appendChild(makePage(tgt[0]));
      under = function () { fill(s.left, makePage(tgt[0])); };
      keyframes = [{ transform: 'rotateY(-180deg)' }, { transform: 'rotateY(0deg)' }];
    }
    leaf.appendChild(front);
    leaf.appendChild(back);
    leaf.style.transform = keyframes[0].transform;
    s.book.appendChild(leaf);
    var anim = null, shade = null, done = false;
    var handle = {
      finish: function () {
        if (done) return;
        done = true;
        if (anim) anim.cancel();
        if (shade) shade.cancel();
        under();
        leaf.remove();
        if (turning === handle) turning = null;
        app.classList.remove('vm-turning');
      }
    };
    turning = handle;
    app.classList.add('vm-turning');
    // The leaf starts moving once its images are decoded (they usually are, having been
    // fetched ahead), so that no frame of the turn waits for a decode; a slow image
    // holds the turn back for a moment at most.
    var ready = Promise.all([pageReady(front), pageReady(back)]);
    var atMost = new Promise(function (ok) { setTimeout(ok, 250); });
    return Promise.race([ready, atMost]).then(function () {
      if (done) return;
      anim = leaf.animate(keyframes, { duration: TURN_MS, easing: 'cubic-bezier(.3,.1,.3,1)', fill: 'forwards' });
      shade = front.animate([{ opacity: 1 }, { opacity: 0.75 }], { duration: TURN_MS, fill: 'forwards' });
      return anim.finished.then(handle.finish, handle.finish);
    });
  }

  function next() { return goTo(firstOf(state.spread + 1)); }
  function prev() { return goTo(firstOf(state.spread - 1)); }
  function firstOf(k) {
    k = clamp(k, 0, spreadCount() - 1);
    var p = spreadPages(k).filter(Boolean).sort(ascending);
    return p[0] || 1;
  }

  function afterMove() {
    var pages = visiblePages();
    var label = pages.map(pageName).join('–');
    $('vm-pagenum').value = label;
    $('vm-status').textContent = text('page', 'Page') + ' ' + label + ' ' + text('of', 'of') + ' ' + book.pages;
    updateContentsCurrent();
    hideBarWhileReading();
    var focused = doc.activeElement;
    $('vm-first').disabled = $('vm-prev').disabled = state.spread <= 0;
    $('vm-last').disabled = $('vm-next').disabled = state.spread >= spreadCount() - 1;
    // A button switched off at either end would drop the keyboard focus: it moves to
    // the button that turns the other way.
    if (focused && focused.disabled) {
      var other = { 'vm-next': 'vm-prev', 'vm-last': 'vm-first', 'vm-prev': 'vm-next', 'vm-first': 'vm-last' }[focused.id];
      if (other && !$(other).disabled) $(other).focus();
    }
    app.dataset.current = pages.join(',');
    var hash = '#page=' + state.page;
    if (location.hash !== hash) {
      try { history.replaceState(history.state, '', hash); } catch (e) { /* sandboxed documents */ }
    }
    updateMail();
    markNotes();
    updateThumbCurrent();
    if ($('vm-note') && !$('vm-note').hidden) showNotes();
    if (!$('vm-zoom').hidden) showZoom();
    preload();
  }

  function pageFromHash() {
    var m = /(?:^#|&)page=(\d+)/.exec(location.hash);
    return m ? parseInt(m[1], 10) : 0;
  }

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
    act();
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

  // ----- Search ------------------------------------------------------------------------------

  function escapeRe(s) { return s.replace(/[.*+?^${}()|[\]\\]/g, '\\$&'); }

  // Pages whose text holds the query (case-insensitive, any run of blanks matching a
  // blank), each with an excerpt around the first match: [{page, before, match, after}].
  function findPages(pages, query) {
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
      out.push({ page: i + 1, before: before, match: t.slice(a, b), after: after });
    }
    return out;
  }

  function runSearch(e) {
    if (e) e.preventDefault();
    var query = $('vm-search-box').value;
    var status = $('vm-search-status'), list = $('vm-results');
    list.textContent = '';
    state.query = query;
    refreshHits();
    if (!query.trim()) { status.textContent = ''; return; }
    status.textContent = text('loading', 'Loading…');
    loadText().then(function (t) {
      if (!t) { status.textContent = text('notext', 'This book has no searchable text.'); return; }
      var found = findPages(t.pages, query);
      status.textContent = found.length ? text('found', 'Pages found:') + ' ' + found.length : text('noresult', 'No page contains this text.');
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
      list.appendChild(frag);
    });
  }

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

  // The zoom images (folder 100) are fetched only here, at their own pixel size.
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
  }

  // Dragging pans the zoomed page.
  function enablePan(view) {
    var drag = null;
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

  // ----- Notes (kept per book and page in this browser) -----------------------------------

  function noteKey() { return 'vellumark.notes.' + (book.id || location.pathname); }
  function readNotes() {
    try { return JSON.parse(localStorage.getItem(noteKey()) || '{}') || {}; } catch (e) { return {}; }
  }
  // False when the browser refuses to keep the note (storage off or full).
  function writeNote(page, value) {
    var notes = readNotes();
    if (value.trim()) notes[page] = value; else delete notes[page];
    try {
      if (Object.keys(notes).length) localStorage.setItem(noteKey(), JSON.stringify(notes));
      else localStorage.removeItem(noteKey());
    } catch (e) { return false; }
    markNotes();
    return true;
  }

  function showNotes() {
    var box = $('vm-note-pages');
    if (!box) return;
    var notes = readNotes();
    box.textContent = '';
    visiblePages().forEach(function (n) {
      var id = 'vm-note-' + n;
      var label = doc.createElement('label');
      label.htmlFor = id;
      label.textContent = text('page', 'Page') + ' ' + n;
      var area = doc.createElement('textarea');
      area.id = id;
      area.rows = 5;
      area.dataset.page = n;
      area.value = notes[n] || '';
      area.addEventListener('input', function () {
        // A note the browser cannot keep is said so at once, not lost in silence.
        var kept = writeNote(n, area.value);
        area.setAttribute('aria-invalid', String(!kept));
        $('vm-note-status').textContent = kept ? '' : text('noteFail', 'This browser does not keep notes.');
      });
      box.appendChild(label);
      box.appendChild(area);
    });
  }

  function markNotes() {
    var btn = $('vm-note-btn');
    if (!btn) return;
    var notes = readNotes();
    btn.classList.toggle('vm-has-note', visiblePages().some(function (n) { return !!notes[n]; }));
  }

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

  // ----- Phones: one toolbar row with a menu, the toolbar out of the way while reading ---

  // Commands a phone reader uses less often; on a narrow screen they move into the menu.
  var MENU_ITEMS = ['vm-first', 'vm-last', 'vm-contents-btn', 'vm-thumbs-btn', 'vm-zoom-btn', 'vm-print-btn',
    'vm-full-btn', 'vm-note-btn', 'vm-email'];
  var phoneQuery = null, menuPlaces = [];

  function isPhone() { return !!(phoneQuery && phoneQuery.matches); }

  function setupPhone() {
    if (!window.matchMedia) return;
    phoneQuery = window.matchMedia('(max-width: 640px)');
    var label = text('menu', 'More');
    var btn = panelButton('vm-menu-btn', label, 'vm-menu', 'M4 6h16M4 12h16M4 18h16');
    var menu = doc.createElement('div');
    menu.id = 'vm-menu';
    menu.className = 'vm-menu';
    menu.hidden = true;
    doc.querySelector('.vm-tools').appendChild(btn);
    $('vm-bar').appendChild(menu);
    btn.addEventListener('click', function () { setMenu(menu.hidden); });
    // A command chosen in the menu closes it.
    menu.addEventListener('click', function (e) { if (e.target.closest('button, a')) setMenu(false); });
    var apply = function () { placeMenuItems(isPhone()); };
    if (phoneQuery.addEventListener) phoneQuery.addEventListener('change', apply);
    apply();
  }

  function setMenu(open) {
    var menu = $('vm-menu');
    if (!menu || menu.hidden === !open) return;
    menu.hidden = !open;
    $('vm-menu-btn').setAttribute('aria-expanded', String(open));
    if (open) {
      showBar(true);
      var first = menu.querySelector('button:not([hidden]), a');
      if (first) first.focus();
    } else if (menu.contains(doc.activeElement)) $('vm-menu-btn').focus();
  }

  // Moves the less used commands into the menu (phone) or back where the page put them.
  function placeMenuItems(phone) {
    app.classList.toggle('vm-phone', phone);
    $('vm-menu-btn').hidden = !phone;
    if (!phone) setMenu(false);
    if (phone && !menuPlaces.length) {
      MENU_ITEMS.forEach(function (id) {
        var el = $(id);
        if (!el) return;
        var mark = doc.createComment(id);
        el.parentNode.insertBefore(mark, el);
        menuPlaces.push({ el: el, mark: mark });
        $('vm-menu').appendChild(el);
      });
    } else if (!phone && menuPlaces.length) {
      menuPlaces.forEach(function (p) { p.mark.parentNode.insertBefore(p.el, p.mark); p.mark.remove(); });
      menuPlaces = [];
    }
    if (!phone) showBar(true);
  }

  function showBar(on) {
    app.classList.toggle('vm-bar-off', !on);
    $('vm-bar').inert = !on;
  }

  // After a turn on a phone the toolbar steps aside, unless the reader is using it.
  function hideBarWhileReading() {
    if (!isPhone() || !state.shown) return;
    if ($('vm-bar').contains(doc.activeElement)) return;
    if (Object.keys(panels).some(function (id) { return $(id) && !$(id).hidden; })) return;
    showBar(false);
  }

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

  // ----- Start ---------------------------------------------------------------------------------

  function labelOptionalButtons() {
    var mail = $('vm-email'), note = $('vm-note-btn');
    if (mail) { mail.setAttribute('aria-label', text('email', 'Send by e-mail')); mail.title = text('email', 'Send by e-mail'); }
    if (note) { note.setAttribute('aria-label', text('note', 'Notes')); note.title = text('note', 'Notes'); }
    if (!(doc.fullscreenEnabled || doc.webkitFullscreenEnabled)) $('vm-full-btn').hidden = true;
  }

  function bind() {
    $('vm-first').addEventListener('click', function () { goTo(1); });
    $('vm-prev').addEventListener('click', prev);
    $('vm-next').addEventListener('click', next);
    $('vm-last').addEventListener('click', function () { goTo(book.pages); });
    var box = $('vm-pagenum');
    box.addEventListener('keydown', function (e) {
      if (e.key === 'Enter') { e.preventDefault(); var n = pageFromInput(box.value); if (n) goTo(n); else afterMove(); }
    });
    box.addEventListener('change', function () { var n = pageFromInput(box.value); if (n) goTo(n); else afterMove(); });
    box.addEventListener('focus', function () { box.select(); });

    doc.addEventListener('keydown', onKey);
    var stage = $('vm-stage');
    // The skip link moves the focus without taking the page's place in the address.
    var skip = doc.querySelector('.vm-skip');
    if (skip) skip.addEventListener('click', function (e) { e.preventDefault(); stage.focus(); });
    stage.addEventListener('wheel', onWheel, { passive: false });
    stage.addEventListener('pointerdown', onPointerDown);
    stage.addEventListener('pointerup', onPointerUp);
    stage.addEventListener('pointercancel', function (e) { swipe = null; onTouchUp(e); });
    stage.addEventListener('pointerdown', onTouchDown);
    stage.addEventListener('pointermove', onTouchMove);
    stage.addEventListener('pointerup', onTouchUp);
    // The left edge turns back in a left-to-right book and forward in a right-to-left one.
    doc.querySelector('.vm-edge-prev').addEventListener('click', function () { if (state.rtl) next(); else prev(); });
    doc.querySelector('.vm-edge-next').addEventListener('click', function () { if (state.rtl) prev(); else next(); });
    // Links on a page to another page of the book turn to it.
    $('vm-book').addEventListener('click', onPageLink);
    $('vm-zoom-view').addEventListener('click', onPageLink);

    $('vm-thumbs-btn').addEventListener('click', function () { togglePanel('vm-thumbs'); });
    $('vm-search-btn').addEventListener('click', function () { togglePanel('vm-search'); loadText(); });
    $('vm-print-btn').addEventListener('click', function () { togglePanel('vm-print'); });
    if ($('vm-note-btn')) $('vm-note-btn').addEventListener('click', function () { togglePanel('vm-note'); });
    else { $('vm-note').remove(); delete panels['vm-note']; }
    doc.querySelectorAll('[data-close]').forEach(function (b) {
      b.addEventListener('click', function () { setPanel(b.dataset.close, false); });
    });
    $('vm-search-form').addEventListener('submit', runSearch);
    $('vm-results').addEventListener('click', function (e) {
      var b = e.target.closest('.vm-result');
      if (b) goTo(+b.dataset.page);
    });
    $('vm-print-form').addEventListener('submit', openPrint);
    ['vm-print-from', 'vm-print-to'].forEach(function (id) {
      $(id).addEventListener('input', function () {
        var r = $('vm-print-form').querySelector('input[value="range"]');
        if (r) r.checked = true;
      });
    });
    $('vm-zoom-btn').addEventListener('click', function () { setZoom($('vm-zoom').hidden); });
    $('vm-zoom-close').addEventListener('click', function () { setZoom(false); });
    enablePan($('vm-zoom-view'));
    $('vm-full-btn').addEventListener('click', toggleFullscreen);
    doc.addEventListener('fullscreenchange', onFullscreenChange);
    doc.addEventListener('webkitfullscreenchange', onFullscreenChange);

    window.addEventListener('hashchange', function () {
      var p = pageFromHash();
      if (p && p !== state.page) goTo(p);
    });
    var pending = 0;
    new ResizeObserver(function () {
      cancelAnimationFrame(pending);
      pending = requestAnimationFrame(relayout);
    }).observe(stage);
  }

  function onPageLink(e) {
    var a = e.target.closest('a.vm-link[data-page]');
    if (!a) return;
    e.preventDefault();
    goTo(+a.dataset.page);
  }

  function relayout() {
    // Panels open below the toolbar, whose height depends on how its buttons wrap.
    app.style.setProperty('--vm-bar-h', $('vm-bar').offsetHeight + 'px');
    var L = computeLayout(), old = state.layout;
    if (old && L.spread === old.spread && L.pw === old.pw && L.ph === old.ph) return;
    if (turning) turning.finish();
    resetTouchZoom();
    state.layout = L;
    state.spread = spreadOf(state.page);
    applyLayout();
    if (!old || L.spread !== old.spread || L.res !== old.res) { render(); afterMove(); }
  }

  function start() {
    app = $('vm-app');
    texts = $('vm-texts');
    if (!app) return;
    book = readBook();
    state = { page: clamp(pageFromHash() || 1, 1, book.pages), spread: 0, layout: null, shown: false, query: '',
      rtl: String(app.dataset.direction || '').trim().toLowerCase() === 'rtl' };
    setTitle(book.title);
    $('vm-pagetotal').textContent = '/ ' + book.pages;
    labelOptionalButtons();
    setupPhone();
    app.style.setProperty('--vm-bar-h', $('vm-bar').offsetHeight + 'px');
    state.layout = computeLayout();
    state.spread = spreadOf(state.page);
    applyLayout();
    bind();
    // The layout decides the reading direction, so the first spread waits for it (a
    // small script; a book without one goes on at once).
    // The words of the text layer come from txt.js: asked for at once, not waited for.
    if (app.dataset.layout) loadText();
    loadLayout().then(function (L) {
      if (L && !String(app.dataset.direction || '').trim()) state.rtl = L.direction === 'rtl';
      app.classList.toggle('vm-rtl', state.rtl);
      if (L) buildContents();
      afterMove();
      return render();
    }).then(function () {
      state.shown = true;
      app.dataset.ready = '1';
      if (window.performance && performance.mark) performance.mark('vm-first-spread');
      // Page text gives the images their alternative text; fetched once the first
      // spread is up so that it never delays it.
      setTimeout(loadText, 0);
    });
    afterMove();
  }

  if (doc.readyState === 'loading') doc.addEventListener('DOMContentLoaded', start);
  else start();
})();
