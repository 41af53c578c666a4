// What the book's layout file adds to the reader: link areas, the contents panel, the
// invisible text layer, search marks on the page, page labels and right-to-left books;
// and that a book made before it existed reads as before.
import assert from 'node:assert/strict';
import { cpSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join } from 'node:path';
import { pathToFileURL } from 'node:url';
import { wordBoxOnScreen } from './lib/words.mjs';

const WAIT = { timeout: 8000 };
const require = createRequire(import.meta.url);

// A book folder as books were made before their layout and text came in pieces: its page
// announced the whole layout file.
function removePieces(bookDir) {
  for (const f of readdirSync(bookDir)) if (/^(layout|txt)-(\d+|outline)\.js$/.test(f)) rmSync(join(bookDir, f));
  const page = join(bookDir, 'index.html');
  writeFileSync(page, readFileSync(page, 'utf8').replace(/ data-layout-pieces="\d+"/, '').replace('layout-1.js"', 'layout.js"'));
}

// The book's layout.js rewritten in the first format (positions in 4096ths of the page,
// every number two digits, the line's top and the word's left edge from the page's
// edges, links on every page), and the word boxes as fractions of the page:
// boxes[page][word] = [x, y, w, h] of the word's first appearance.
function firstFormat(bookDir) {
  const load = (name, prefix) => {
    const text = readFileSync(join(bookDir, name), 'utf8');
    return JSON.parse(text.slice(prefix.length, text.lastIndexOf(';')));
  };
  const L = load('layout.js', 'window.VELLUMARK_BOOK_LAYOUT = ');
  const texts = load('txt.js', 'window.VELLUMARK_BOOK_TEXT = ').pages;
  const D = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
  const pair = (f) => { const v = Math.max(0, Math.min(4095, Math.round(f * 4096))); return D[v >> 6] + D[v & 63]; };
  const unfold = (k) => (k % 2 ? -(k + 1) / 2 : k / 2);
  const boxes = {};
  const pages = L.pages.map((p, i) => {
    const v = [];
    let high = 0;
    for (const c of p.lines) {
      const d = D.indexOf(c);
      if (d >= 56) high = high * 8 + d - 56;
      else { v.push(high * 56 + d); high = 0; }
    }
    const fx = (x) => x / L.unit / p.w, fy = (y) => y / L.unit / p.h;
    let at = 0, bottom = 0, firstLeft = 0, lines = '';
    boxes[i + 1] = {};
    for (const line of texts[i].split('\n')) {
      const words = line.split(/\s+/).filter(Boolean);
      if (!words.length) continue;
      const top = bottom + unfold(v[at]), height = v[at + 1];
      bottom = top + height;
      at += 2;
      lines += pair(fy(top)) + pair(fy(height));
      let right = 0;
      words.forEach((w, k) => {
        const left = unfold(v[at]) + (k ? right : firstLeft);
        if (!k) firstLeft = left;
        right = left + v[at + 1];
        lines += pair(fx(left)) + pair(fx(v[at + 1]));
        boxes[i + 1][w] ??= [fx(left), fy(top), fx(v[at + 1]), fy(height)];
        at += 2;
      });
    }
    const links = (p.links || []).map(([x, y, w, h, target]) => [...[fx(x), fy(y), fx(w), fy(h)].map((f) => Math.round(f * 4096)), target]);
    return { ...p, lines, links };
  });
  const layout = `window.VELLUMARK_BOOK_LAYOUT = ${JSON.stringify({ ...L, version: 1, unit: 4096, pages })};\n`;
  return { layout, boxes };
}

export function readerTests(env) {
  const { context, artifacts, books, links, rtlBook, rtlWords, bookPage, work } = env;

  // ratio: device pixels per CSS pixel, in the browser's 1280 x 800 window.
  async function open(url, ratio = 1) {
    const page = await context.newPage();
    if (ratio !== 1) {
      const cdp = await context.newCDPSession(page);
      await cdp.send('Emulation.setDeviceMetricsOverride', { width: 1280, height: 800, deviceScaleFactor: ratio, mobile: false });
    }
    const errors = [], requests = [];
    page.on('pageerror', (e) => errors.push(e.message));
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
    page.on('request', (r) => requests.push(r.url()));
    await page.goto(url);
    await page.waitForSelector('#vm-app[data-ready]', WAIT);
    return { page, errors, requests };
  }

  async function finish({ page, errors }, shot) {
    await page.screenshot({ path: join(artifacts, `${shot}.png`) });
    await page.close();
    assert.deepEqual(errors, [], 'no script or console errors');
  }

  async function expectPages(page, want) {
    try {
      await page.waitForFunction((w) => document.querySelector('#vm-app').dataset.current === w &&
        !document.querySelector('#vm-app').classList.contains('vm-turning'), want.join(','), WAIT);
    } catch {
      assert.fail(`pages ${want} expected, ${await page.$eval('#vm-app', (a) => a.dataset.current)} shown`);
    }
  }

  const rect = (page, selector) => page.$eval(selector, (el) => {
    const r = el.getBoundingClientRect();
    return { x: r.x, y: r.y, w: r.width, h: r.height };
  });

  function near(a, b, what, tolerance = 1.5) {
    for (const k of ['x', 'y', 'w', 'h']) {
      assert.ok(Math.abs(a[k] - b[k]) <= tolerance, `${what}: ${k} ${a[k].toFixed(1)} vs ${b[k].toFixed(1)}`);
    }
  }

  const tests = [];
  // Each way of reading runs at another pixel ratio, so that links, text and search marks
  // are checked over the normal sets and over the zoom layer's sharper images alike.
  const RATIO = { http: 1, file: 2, export: 3 };
  for (const mode of ['file', 'http', 'export']) {
    const url = books[mode];

    tests.push([`${mode}: a link on the page turns to its page; a web link opens a new tab`, async () => {
      const t = await open(url, RATIO[mode]);
      const { page } = t;
      const internal = '.vm-slot .vm-page[data-page="1"] a.vm-link[data-page="5"]';
      await page.waitForSelector(internal, WAIT);
      // The area lies where the PDF put it (612 x 792 points, measured from the bottom).
      const pageBox = await rect(page, '.vm-slot .vm-page[data-page="1"]');
      const s = pageBox.w / 612;
      const [x, y, w, h] = links.internal.rect;
      near(await rect(page, internal), { x: pageBox.x + x * s, y: pageBox.y + (792 - y - h) * s, w: w * s, h: h * s },
        'internal link area');
      await page.click(internal);
      await expectPages(page, [4, 5]);
      assert.match(page.url(), /#page=5$/);

      await page.keyboard.press('Home');
      await expectPages(page, [1]);
      const external = '.vm-slot .vm-page[data-page="1"] a.vm-link:not([data-page])';
      assert.deepEqual(await page.$eval(external, (a) => [a.href, a.target, a.rel]),
        [links.external.uri, '_blank', 'noopener noreferrer']);
      await context.route('https://example.org/**', (r) => r.fulfill({ contentType: 'text/html', body: '<title>x</title>' }));
      try {
        const [tab] = await Promise.all([context.waitForEvent('page', WAIT), page.click(external)]);
        await tab.waitForLoadState();
        assert.equal(tab.url(), links.external.uri);
        assert.equal(await tab.evaluate(() => window.opener), null, 'the new tab cannot reach the book');
        await tab.close();
      } finally {
        await context.unroute('https://example.org/**');
      }
      await expectPages(page, [1]);
      await finish(t, `${mode}-links`);
    }]);

    tests.push([`${mode}: the contents panel shows the outline's levels and jumps by keyboard`, async () => {
      const t = await open(url, RATIO[mode]);
      const { page } = t;
      await page.click('#vm-contents-btn');
      await page.waitForSelector('#vm-contents:not([hidden])', WAIT);
      assert.equal(await page.$eval('#vm-contents-btn', (b) => b.getAttribute('aria-expanded')), 'true');
      const tree = await page.$$eval('#vm-contents nav > ul > li', (items) => items.map((li) =>
        [li.querySelector('a').textContent, li.querySelectorAll(':scope ul a').length]));
      assert.deepEqual(tree, [['First part', 5], ['Second part', 4]]);
      assert.ok(await page.evaluate(() => document.activeElement.closest('#vm-contents nav') !== null),
        'the focus is in the list');
      await page.focus('#vm-contents a:text-is("Chapter 7")');
      await page.keyboard.press('Enter');
      await expectPages(page, [6, 7]);
      assert.ok(await page.$eval('#vm-contents', (p) => p.hidden), 'the panel closes');
      await page.click('#vm-contents-btn');
      assert.equal(await page.$eval('#vm-contents a[aria-current]', (a) => a.textContent), 'Chapter 7');
      await page.keyboard.press('Escape');
      assert.ok(await page.$eval('#vm-contents', (p) => p.hidden));
      await finish(t, `${mode}-contents`);
    }]);

    tests.push([`${mode}: the page's text can be selected and copied in reading order`, async () => {
      const t = await open(url, RATIO[mode]);
      const { page } = t;
      const copied = await selectAndCopy(page, 1);
      assert.equal(copied.replace(/\s+/g, ' ').trim(),
        'Chapter 1 This page tells of the aardvark. Plain text for the search and the alternative text.');
      // A screen reader finds the same words on the page.
      const spoken = await page.$eval('.vm-slot .vm-page[data-page="1"] .vm-text', (el) => el.textContent);
      assert.match(spoken, /aardvark/);
      await finish(t, `${mode}-select`);
    }]);

    tests.push([`${mode}: a search hit is marked at its word on both pages of a spread and when zoomed`, async () => {
      const t = await open(`${url}#page=2`, RATIO[mode]);
      const { page } = t;
      await expectPages(page, [2, 3]);
      await page.click('#vm-search-btn');
      await page.fill('#vm-search-box', 'alternative');
      await page.press('#vm-search-box', 'Enter');
      await page.waitForSelector('.vm-result', WAIT);
      for (const n of [2, 3]) {
        const mark = `.vm-slot .vm-page[data-page="${n}"] .vm-hit`;
        await page.waitForSelector(mark, WAIT);
        assert.equal(await page.$$eval(mark, (m) => m.length), 1, `one mark on page ${n}`);
        near(await rect(page, mark), await wordBoxOnScreen(page, n, 'alternative', '.vm-slot'), `mark on page ${n}`);
      }
      await page.click('#vm-zoom-btn');
      const zoomed = '.vm-zoom-page[data-page="2"] .vm-hit';
      await page.waitForSelector(zoomed, WAIT);
      await page.waitForFunction(() => document.querySelector('.vm-zoom-page[data-page="2"] .vm-bg').naturalWidth > 0, null, WAIT);
      near(await rect(page, zoomed), await wordBoxOnScreen(page, 2, 'alternative', '.vm-zoom-row'), 'zoomed mark');
      await finish(t, `${mode}-search-marks`);
    }]);
  }

  tests.push(['a right-to-left book shows each spread right to left, turns with ArrowLeft and names pages by label', async () => {
    const t = await open(`${rtlBook}#page=2`);
    const { page } = t;
    await expectPages(page, [2, 3]);
    const slotOf = (n) => page.$eval(`.vm-page[data-page="${n}"]`, (el) => el.closest('.vm-slot').classList.contains('vm-right') ? 'right' : 'left');
    assert.equal(await slotOf(2), 'right', 'the lower page on the right');
    assert.equal(await slotOf(3), 'left');
    assert.equal(await page.inputValue('#vm-pagenum'), 'ii–1', 'the page box shows the labels');
    await page.keyboard.press('ArrowLeft');
    await expectPages(page, [4, 5]);
    assert.equal(await slotOf(4), 'right');
    await page.keyboard.press('ArrowRight');
    await expectPages(page, [2, 3]);
    // Typing a label goes to the page that carries it; a number no label has goes to that page.
    await page.fill('#vm-pagenum', '3');
    await page.press('#vm-pagenum', 'Enter');
    await expectPages(page, [4, 5]);
    await page.fill('#vm-pagenum', 'i');
    await page.press('#vm-pagenum', 'Enter');
    await expectPages(page, [1]);
    await page.fill('#vm-pagenum', '6');
    await page.press('#vm-pagenum', 'Enter');
    await expectPages(page, [6]);
    await page.click('#vm-thumbs-btn');
    const captions = await page.$$eval('.vm-thumb span', (s) => s.map((e) => e.textContent));
    assert.deepEqual(captions, ['i', 'ii', '1', '2', '3', '4']);
    assert.equal(await page.$('#vm-contents-btn'), null, 'no contents button without an outline');
    await finish(t, 'rtl-labels');
  }]);

  // Selects the text layer of page n from the start of its first line to the end of its
  // last, and returns what a copy puts on the clipboard.
  async function selectAndCopy(page, n) {
    const lines = `.vm-slot .vm-page[data-page="${n}"] .vm-text span`;
    await page.waitForSelector(lines, WAIT);
    const first = await rect(page, `${lines}:first-of-type`), last = await rect(page, `${lines}:last-of-type`);
    await page.mouse.move(first.x + 1, first.y + first.h / 2);
    await page.mouse.down();
    await page.mouse.move(last.x + last.w - 1, last.y + last.h / 2, { steps: 8 });
    await page.mouse.up();
    return page.evaluate(() => new Promise((done) => {
      document.addEventListener('copy', (e) => { e.preventDefault(); done(String(window.getSelection())); }, { once: true });
      document.execCommand('copy');
    }));
  }

  tests.push(['Arabic and Hebrew lines are copied in reading order and their words keep their places', async () => {
    const t = await open(`${rtlBook}#page=2`);
    const { page } = t;
    await expectPages(page, [2, 3]);
    const copied = await selectAndCopy(page, 2);
    assert.equal(copied.replace(/\s+/g, ' ').trim(),
      ['Chapter 2', ...rtlWords.arabic, ...rtlWords.hebrew, 'The end of the page.'].join(' '));
    // Read right to left: each word stands left of the one before it.
    for (const words of [rtlWords.arabic, rtlWords.hebrew]) {
      const boxes = [];
      for (const w of words) boxes.push(await wordBoxOnScreen(page, 2, w, '.vm-slot'));
      for (let i = 1; i < boxes.length; i++) {
        assert.ok(boxes[i].x + boxes[i].w < boxes[i - 1].x, `${words[i]} left of ${words[i - 1]}`);
      }
    }
    // The invisible text lays its words out the same way, so that a selection covers them.
    const shown = await page.$$eval('.vm-slot .vm-page[data-page="2"] .vm-text span', (spans, words) => {
      const span = spans.find((el) => el.textContent === words.join(' '));
      const range = document.createRange(), boxOf = (from, to) => {
        range.setStart(span.firstChild, from);
        range.setEnd(span.firstChild, to);
        return range.getBoundingClientRect().toJSON();
      };
      const last = words.join(' ').length;
      return { first: boxOf(0, words[0].length), last: boxOf(last - words.at(-1).length, last) };
    }, rtlWords.hebrew);
    assert.ok(shown.first.left > shown.last.right, 'the first Hebrew word is laid out right of the last');
    // A search for the first Arabic word marks it at the right end of its line.
    await page.click('#vm-search-btn');
    await page.fill('#vm-search-box', rtlWords.arabic[0]);
    await page.press('#vm-search-box', 'Enter');
    const mark = '.vm-slot .vm-page[data-page="2"] .vm-hit';
    await page.waitForSelector(mark, WAIT);
    near(await rect(page, mark), await wordBoxOnScreen(page, 2, rtlWords.arabic[0], '.vm-slot'), 'mark of the first Arabic word');
    await finish(t, 'rtl-text');
  }]);

  tests.push(['a right-to-left book opens on its cover alone, left of the spine, and turns it over to the right', async () => {
    const t = await open(rtlBook);
    const { page } = t;
    await expectPages(page, [1]);
    // The mirror image of a left-to-right book, whose cover stands right of the spine: the
    // cover's back, page 2, comes to lie on the right when its leaf turns.
    const slotOf = (n) => page.$eval(`.vm-slot .vm-page[data-page="${n}"]`, (el) => (el.closest('.vm-slot').classList.contains('vm-right') ? 'right' : 'left'));
    assert.equal(await slotOf(1), 'left');
    assert.equal(await page.$('.vm-slot.vm-right .vm-page:not(.vm-blank)'), null, 'nothing right of the spine');
    const cover = await rect(page, '.vm-slot .vm-page[data-page="1"]'), book = await rect(page, '#vm-book');
    assert.ok(cover.x + cover.w <= book.x + book.w / 2 + 1, 'the cover ends at the middle of the book');
    await page.keyboard.press('ArrowLeft');
    await expectPages(page, [2, 3]);
    assert.equal(await slotOf(2), 'right');
    await finish(t, 'rtl-cover');
  }]);

  tests.push(['a book made before the layout file existed opens as before, without a console error', async () => {
    // The book page of that time had no data-layout attribute and its folder no layout.js.
    const bookDir = dirname(bookPage);
    const old = join(dirname(bookDir), 'OLDBOOK');
    rmSync(old, { recursive: true, force: true });
    cpSync(bookDir, old, { recursive: true });
    rmSync(join(old, 'layout.js'));
    removePieces(old);
    const html = readFileSync(join(old, 'index.html'), 'utf8');
    assert.ok(html.includes(' data-layout="layout.js"'));
    // Nor did it announce any file in its head.
    writeFileSync(join(old, 'index.html'), html.replace(' data-layout="layout.js"', '').replace(/ data-layout-pieces="\d+"/, '')
      .replace(/<link rel="preload"[^>]*>\n?/g, ''));
    try {
      const t = await open(pathToFileURL(join(old, 'index.html')).href);
      const { page, requests } = t;
      assert.ok(!requests.some((u) => u.includes('layout.js')), 'no layout file asked for');
      assert.equal(await page.$('.vm-text, .vm-links, #vm-contents-btn'), null);
      await page.click('#vm-next');
      await expectPages(page, [2, 3]);
      await page.waitForFunction(() => /aardvark|badger/.test(document.querySelector('.vm-page[data-page="2"] .vm-bg').alt), null, WAIT);
      await page.click('#vm-search-btn');
      await page.fill('#vm-search-box', 'badger');
      await page.press('#vm-search-box', 'Enter');
      await page.waitForSelector('.vm-result', WAIT);
      assert.equal(await page.$('.vm-hit'), null);
      await finish(t, 'old-book');
    } finally {
      rmSync(old, { recursive: true, force: true });
    }
  }]);

  tests.push(['a book whose layout file has the first format still gets its links, text layer and search marks', async () => {
    // Books made before the format changed keep their layout.js beside the shared viewer.
    const bookDir = dirname(bookPage);
    const copy = join(dirname(bookDir), 'V1BOOK');
    rmSync(copy, { recursive: true, force: true });
    cpSync(bookDir, copy, { recursive: true });
    removePieces(copy);
    const { layout, boxes } = firstFormat(bookDir);
    writeFileSync(join(copy, 'layout.js'), layout);
    try {
      const t = await open(`${pathToFileURL(join(copy, 'index.html')).href}#page=2`);
      const { page } = t;
      await expectPages(page, [2, 3]);
      await page.click('#vm-search-btn');
      await page.fill('#vm-search-box', 'alternative');
      await page.press('#vm-search-box', 'Enter');
      const mark = '.vm-slot .vm-page[data-page="2"] .vm-hit';
      await page.waitForSelector(mark, WAIT);
      const r = await rect(page, '.vm-slot .vm-page[data-page="2"]'), b = boxes[2].alternative;
      near(await rect(page, mark), { x: r.x + b[0] * r.w, y: r.y + b[1] * r.h, w: b[2] * r.w, h: b[3] * r.h }, 'mark');
      assert.ok(await page.$('.vm-slot .vm-page[data-page="2"] .vm-text span'), 'a text layer');
      await page.click('#vm-first');
      await expectPages(page, [1]);
      await page.waitForSelector('.vm-slot .vm-page[data-page="1"] a.vm-link[data-page="5"]', WAIT);
      await finish(t, 'first-format');
    } finally {
      rmSync(copy, { recursive: true, force: true });
    }
  }]);

  tests.push(['without a publisher logo the home link is a house with its name, not a bar', async () => {
    const t = await open(books.http);
    const { page } = t;
    const home = await page.$eval('#vm-home', (a) => {
      const img = a.querySelector('img'), label = a.querySelector('.vm-home-label');
      return { src: img.getAttribute('src'), w: img.getBoundingClientRect().width, h: img.getBoundingClientRect().height,
        label: label.textContent, shown: label.getBoundingClientRect().width > 10 };
    });
    assert.match(home.src, /\/home\.svg$/);
    assert.ok(home.w <= 24 && home.h >= 18, `a square icon: ${home.w} x ${home.h}`);
    assert.equal(home.label, 'Home');
    assert.ok(home.shown, 'the name is shown beside the house');
    assert.equal(await page.getByRole('link', { name: 'Home', exact: true }).count(), 1);
    await finish(t, 'home-link');
  }]);

  tests.push(['axe-core finds no serious or critical problem with each panel open', async () => {
    const t = await open(`${books.http}#page=2`);
    const { page } = t;
    await page.addScriptTag({ path: require.resolve('axe-core/axe.min.js') });
    const check = async (what) => {
      const result = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
      const bad = result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical')
        .map((v) => `${v.id} (${v.impact}): ${v.nodes.slice(0, 3).map((n) => n.target.join(' ')).join(', ')}`);
      assert.deepEqual(bad, [], what);
    };
    await check('reader');
    await page.click('#vm-share-btn');
    await page.waitForSelector('#vm-share-note:not([hidden])', WAIT);
    await check('with the share note shown');
    for (const btn of ['#vm-contents-btn', '#vm-thumbs-btn', '#vm-search-btn', '#vm-print-btn']) {
      await page.click(btn);
      if (btn === '#vm-search-btn') {
        await page.fill('#vm-search-box', 'plain');
        await page.press('#vm-search-box', 'Enter');
        await page.waitForSelector('.vm-result', WAIT);
      }
      await check(`with ${btn} open`);
    }
    await finish(t, 'axe');
  }]);

  return tests;
}
