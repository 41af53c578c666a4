// The reader's view of a converted book in Chromium. Each test opens the book in a page of
// its own and keeps a screenshot of how it ended in the artifacts folder.
import assert from 'node:assert/strict';
import { join } from 'node:path';

const WAIT = { timeout: 8000 };

export function viewerTests(env) {
  const { context, artifacts, pages: PAGES, title: TITLE, pageWord, books, server } = env;

  async function open(url, { viewport } = {}) {
    const page = await context.newPage();
    if (viewport) await page.setViewportSize(viewport);
    const requests = [];
    const errors = [];
    page.on('request', (r) => requests.push(r.url()));
    page.on('pageerror', (e) => errors.push(e.message));
    await page.goto(url);
    await page.waitForSelector('#vm-app[data-ready]', WAIT);
    return { page, requests, errors };
  }

  async function finish({ page, errors }, shot) {
    await page.screenshot({ path: join(artifacts, `${shot}.png`) });
    await page.close();
    assert.deepEqual(errors, [], 'no script errors');
  }

  const current = (page) => page.$eval('#vm-app', (a) => a.dataset.current);
  async function expectPages(page, list) {
    const want = list.join(',');
    try {
      await page.waitForFunction((w) => document.querySelector('#vm-app').dataset.current === w &&
        !document.querySelector('#vm-app').classList.contains('vm-turning'), want, WAIT);
    } catch {
      assert.fail(`pages ${want} expected, ${await current(page)} shown`);
    }
  }

  // The displayed image of page n, with its foreground layer.
  function pageImages(page, n, scope = '.vm-slot') {
    return page.$eval(`${scope} .vm-page[data-page="${n}"]`, (el) => {
      const box = (img) => { const r = img.getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; };
      const bg = el.querySelector('.vm-bg'), fg = el.querySelector('.vm-fg');
      return { src: bg.currentSrc || bg.src, fgSrc: fg.currentSrc || fg.src, loaded: bg.complete && bg.naturalWidth > 0, fgLoaded: fg.complete && fg.naturalWidth > 0,
        natural: [bg.naturalWidth, bg.naturalHeight], fgNatural: [fg.naturalWidth, fg.naturalHeight],
        box: box(bg), fgBox: box(fg), alt: bg.alt };
    });
  }

  const tests = [];
  for (const mode of ['file', 'http', 'export', 'service']) {
    const url = books[mode];
    if (!url) continue;  // the publishing service is not built
    tests.push([`${mode}: the first spread shows the cover with its foreground laid over it`, async () => {
      const t = await open(url);
      const { page } = t;
      assert.equal(await current(page), '1');
      const img = await pageImages(page, 1);
      assert.ok(img.loaded && img.fgLoaded, 'both layers loaded');
      assert.match(img.src, /\/(LowRes|MedRes|HighRes)\/img-1\.jpg$/);
      assert.deepEqual(img.fgNatural, img.natural, 'foreground and background have one pixel size');
      assert.deepEqual(img.fgBox, img.box, 'foreground lies exactly over the background');
      const [x, y, w, h] = img.box;
      assert.ok(w > 200 && h > 300 && x >= 0 && y >= 0 && x + w <= 1280 && y + h <= 800, `page visible: ${img.box}`);
      // The title comes from the PDF and holds markup characters: it shows as text.
      assert.equal(await page.textContent('#vm-heading'), TITLE);
      assert.equal(await page.title(), TITLE);
      assert.ok(!t.requests.some((u) => /\/100\//.test(u)), 'no zoom image before zooming');
      await finish(t, `${mode}-first-spread`);
    }]);

    tests.push([`${mode}: buttons, keys, wheel and page edges turn pages; the address follows`, async () => {
      const t = await open(url);
      const { page } = t;
      await page.click('#vm-next');
      await expectPages(page, [2, 3]);
      assert.match(page.url(), /#page=2$/);
      const img = await pageImages(page, 3);
      assert.ok(img.loaded, 'page 3 loaded after the turn');
      await page.click('#vm-next');
      await expectPages(page, [4, 5]);
      await page.click('#vm-prev');
      await expectPages(page, [2, 3]);
      await page.keyboard.press('End');
      await expectPages(page, [8, 9]);
      assert.ok(await page.$eval('#vm-next', (b) => b.disabled), 'next is off on the last spread');
      await page.keyboard.press('Home');
      await expectPages(page, [1]);
      await page.keyboard.press('ArrowRight');
      await expectPages(page, [2, 3]);
      await page.keyboard.press('PageDown');
      await expectPages(page, [4, 5]);
      await page.keyboard.press('ArrowLeft');
      await expectPages(page, [2, 3]);
      await page.mouse.move(640, 400);
      await page.mouse.wheel(0, 120);
      await expectPages(page, [4, 5]);
      const edge = await page.$eval('#vm-book', (b) => { const r = b.getBoundingClientRect(); return [r.x, r.y, r.width, r.height]; });
      await page.mouse.click(edge[0] + edge[2] - 10, edge[1] + edge[3] / 2);
      await expectPages(page, [6, 7]);
      await page.mouse.click(edge[0] + 10, edge[1] + edge[3] / 2);
      await expectPages(page, [4, 5]);
      await page.fill('#vm-pagenum', '8');
      await page.press('#vm-pagenum', 'Enter');
      await expectPages(page, [8, 9]);
      assert.match(page.url(), /#page=8$/);
      await finish(t, `${mode}-turning`);
    }]);

    tests.push([`${mode}: #page=N opens page N`, async () => {
      const t = await open(`${url}#page=5`);
      const { page } = t;
      await expectPages(page, [4, 5]);
      assert.ok((await pageImages(page, 5)).loaded);
      assert.match(page.url(), /#page=5$/, 'the address keeps the page asked for');
      await page.evaluate(() => { location.hash = '#page=9'; });
      await expectPages(page, [8, 9]);
      await finish(t, `${mode}-deep-link`);
    }]);

    tests.push([`${mode}: search lists the page of a word and jumps there`, async () => {
      const t = await open(url);
      const { page } = t;
      const word = pageWord(6);
      await page.click('#vm-search-btn');
      await page.fill('#vm-search-box', word.toUpperCase());
      await page.press('#vm-search-box', 'Enter');
      await page.waitForSelector('.vm-result', WAIT);
      const hits = await page.$$eval('.vm-result', (bs) => bs.map((b) => [b.dataset.page, b.querySelector('mark').textContent, b.textContent]));
      assert.equal(hits.length, 1, `one page holds ${word}: ${JSON.stringify(hits)}`);
      assert.equal(hits[0][0], '6');
      assert.equal(hits[0][1].toLowerCase(), word);
      assert.match(hits[0][2], new RegExp(`tells of the ${word}`, 'i'), 'the excerpt shows the words around the match');
      await page.click('.vm-result');
      await expectPages(page, [6, 7]);
      const img = await pageImages(page, 6);
      assert.match(img.alt, new RegExp(word), 'the page image has its text as alternative text');
      // A text on every page lists every page; a text on none lists none and says so.
      await page.fill('#vm-search-box', 'plain   TEXT for');
      await page.press('#vm-search-box', 'Enter');
      await page.waitForFunction((n) => document.querySelectorAll('.vm-result').length === n, PAGES, WAIT);
      await page.fill('#vm-search-box', 'zebra crossing');
      await page.press('#vm-search-box', 'Enter');
      await page.waitForFunction(() => document.querySelectorAll('.vm-result').length === 0 &&
        document.querySelector('#vm-search-status').textContent.length > 0, null, WAIT);
      await finish(t, `${mode}-search`);
    }]);

    tests.push([`${mode}: zoom loads the zoom images only then, and dragging pans them`, async () => {
      const t = await open(`${url}#page=2`);
      const { page, requests } = t;
      await expectPages(page, [2, 3]);
      const shown = await pageImages(page, 2);
      assert.ok(!requests.some((u) => /\/100\//.test(u)), 'no zoom image before zooming');
      await page.click('#vm-zoom-btn');
      await page.waitForFunction(() => [...document.querySelectorAll('#vm-zoom-view img.vm-bg')]
        .every((i) => i.complete && i.naturalWidth > 0), null, WAIT);
      const zoomed = await page.$$eval('#vm-zoom-view .vm-zoom-page', (ps) => ps.map((p) => {
        const bg = p.querySelector('.vm-bg'), fg = p.querySelector('.vm-fg');
        const a = bg.getBoundingClientRect(), b = fg.getBoundingClientRect();
        return { src: bg.src, w: bg.naturalWidth, same: a.x === b.x && a.y === b.y && a.width === b.width && a.height === b.height };
      }));
      assert.deepEqual(zoomed.map((z) => z.src.replace(/^.*\/100\//, '')), ['img-2.jpg', 'img-3.jpg']);
      assert.ok(zoomed.every((z) => z.w > shown.natural[0]), 'zoom images are larger than the page images');
      assert.ok(zoomed.every((z) => z.same), 'foreground over background in the zoom view too');
      const before = await page.$eval('#vm-zoom-view', (v) => [v.scrollLeft, v.scrollTop, v.scrollHeight > v.clientHeight]);
      assert.ok(before[2], 'the zoomed page is taller than the window');
      await page.mouse.move(600, 600);
      await page.mouse.down();
      await page.mouse.move(500, 300, { steps: 6 });
      await page.mouse.up();
      const after = await page.$eval('#vm-zoom-view', (v) => [v.scrollLeft, v.scrollTop]);
      assert.ok(after[1] > before[1], `dragging up scrolls down: ${before} -> ${after}`);
      await page.screenshot({ path: join(artifacts, `${mode}-zoom-open.png`) });
      await page.keyboard.press('Escape');
      assert.ok(await page.$eval('#vm-zoom', (z) => z.hidden), 'Escape leaves the zoom');
      await page.click('#vm-zoom-btn');
      await page.waitForFunction(() => document.querySelectorAll('#vm-zoom-view img.vm-bg').length === 2, null, WAIT);
      await page.click('#vm-zoom-close');
      await finish(t, `${mode}-zoom`);
    }]);

    tests.push([`${mode}: a thumbnail opens its page`, async () => {
      const t = await open(url);
      const { page } = t;
      await page.click('#vm-thumbs-btn');
      assert.equal(await page.$$eval('.vm-thumb', (b) => b.length), PAGES);
      await page.waitForFunction(() => { const i = document.querySelector('.vm-thumb img'); return i.complete && i.naturalWidth > 0; }, null, WAIT);
      assert.match(await page.$eval('.vm-thumb img', (i) => i.src), /\/thumb\/img-1-e\.jpg$/);
      await page.screenshot({ path: join(artifacts, `${mode}-thumbnails-open.png`) });
      await page.click('.vm-thumb[data-page="7"]');
      await expectPages(page, [6, 7]);
      assert.ok(await page.$eval('#vm-thumbs', (p) => p.hidden), 'the panel closes');
      await finish(t, `${mode}-thumbnails`);
    }]);

    tests.push([`${mode}: the print view lists the chosen pages`, async () => {
      const t = await open(`${url}#page=4`);
      const { page } = t;
      await expectPages(page, [4, 5]);
      const printed = async () => {
        const [popup] = await Promise.all([context.waitForEvent('page', WAIT), page.click('#vm-print-go')]);
        await popup.waitForSelector('body[data-ready]', WAIT);
        // Each page prints from the book's high-resolution set, its text layer exactly over
        // its background.
        const imgs = await popup.$$eval('main figure', (fs) => fs.map((f) => {
          const [bg, fg] = f.querySelectorAll('img'), a = bg.getBoundingClientRect(), b = fg.getBoundingClientRect();
          return [bg.src.replace(/^.*\/HighRes\//, ''), bg.naturalWidth > 0 && fg.naturalWidth > 0 &&
            fg.src === bg.src.replace(/\.jpg$/, '-f.png') && a.width === b.width && a.height === b.height && a.x === b.x && a.y === b.y];
        }));
        return { popup, imgs };
      };
      await page.click('#vm-print-btn');
      let { popup, imgs } = await printed();
      assert.deepEqual(imgs, [['img-4.jpg', true], ['img-5.jpg', true]], 'current spread');
      await popup.close();
      await page.fill('#vm-print-from', '2');
      await page.fill('#vm-print-to', '7');
      ({ popup, imgs } = await printed());
      assert.deepEqual(imgs.map((i) => i[0]), ['img-2.jpg', 'img-3.jpg', 'img-4.jpg', 'img-5.jpg', 'img-6.jpg', 'img-7.jpg'], 'range');
      assert.ok(imgs.every((i) => i[1]), 'every print image loaded');
      await popup.close();
      await page.check('input[name="vm-print-what"][value="all"]');
      ({ popup, imgs } = await printed());
      assert.equal(imgs.length, PAGES, 'all pages');
      assert.equal(await popup.textContent('h1'), TITLE);
      await popup.screenshot({ path: join(artifacts, `${mode}-print-view.png`) });
      await popup.close();
      await finish(t, `${mode}-print`);
    }]);
  }

  tests.push(['narrow window: one page at a time, turned by swipes too', async () => {
    const t = await open(`${books.http}#page=2`, { viewport: { width: 480, height: 800 } });
    const { page } = t;
    await expectPages(page, [2]);
    await page.click('#vm-next');
    await expectPages(page, [3]);
    assert.match(page.url(), /#page=3$/);
    const cdp = await context.newCDPSession(page);
    await cdp.send('Emulation.setTouchEmulationEnabled', { enabled: true, maxTouchPoints: 1 });
    const swipe = async (from, to) => {
      await cdp.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ x: from, y: 400 }] });
      for (let i = 1; i <= 5; i++) {
        await cdp.send('Input.dispatchTouchEvent', { type: 'touchMove', touchPoints: [{ x: from + ((to - from) * i) / 5, y: 405 }] });
      }
      await cdp.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
    };
    await swipe(380, 100);
    await expectPages(page, [4]);
    await swipe(100, 380);
    await expectPages(page, [3]);
    await page.keyboard.press('End');
    await expectPages(page, [PAGES]);
    await finish(t, 'narrow-single-page');
  }]);

  tests.push(['the page images follow the displayed size and the pixel ratio', async () => {
    const chosen = async (width, height, scale) => {
      const page = await context.newPage();
      const cdp = await context.newCDPSession(page);
      await cdp.send('Emulation.setDeviceMetricsOverride', { width, height, deviceScaleFactor: scale, mobile: false });
      await page.goto(books.http);
      await page.waitForSelector('#vm-app[data-ready]', WAIT);
      // Page 1 may come from the list of sets the page's head offers the browser.
      const src = await page.$eval('.vm-slot .vm-page[data-page="1"] .vm-bg', (i) => i.currentSrc || i.src);
      await page.close();
      return /\/(\w+Res|100)\/img-1\.jpg$/.exec(src)[1];
    };
    assert.equal(await chosen(1280, 480, 1), 'LowRes', 'a low window takes the small images');
    assert.equal(await chosen(1280, 800, 1), 'HighRes', 'a page about 700 pixels high takes the large ones');
    assert.equal(await chosen(1280, 700, 1), 'MedRes');
    assert.equal(await chosen(1280, 480, 2), 'HighRes', 'a high pixel ratio takes larger images');
  }]);

  tests.push(['every control is a labelled button reachable by keyboard with visible focus', async () => {
    const t = await open(books.http);
    const { page } = t;
    const unlabelled = await page.$$eval('button, a[href], input', (els) => els
      .filter((e) => e.offsetParent !== null || e.closest('header'))
      .filter((e) => !(e.getAttribute('aria-label') || e.textContent.trim() || (e.labels && e.labels.length)))
      .map((e) => e.outerHTML.slice(0, 80)));
    assert.deepEqual(unlabelled, []);
    const seen = [];
    for (let i = 0; i < 30 && !seen.includes('vm-full-btn'); i++) {
      await page.keyboard.press('Tab');
      const f = await page.evaluate(() => {
        const e = document.activeElement, s = getComputedStyle(e);
        return { id: e.id, outline: s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2 };
      });
      seen.push(f.id);
      if (f.id.startsWith('vm-') && f.id !== 'vm-pagenum') assert.ok(f.outline, `${f.id} shows its focus`);
    }
    for (const id of ['vm-home', 'vm-first', 'vm-prev', 'vm-pagenum', 'vm-next', 'vm-last', 'vm-thumbs-btn', 'vm-search-btn', 'vm-zoom-btn', 'vm-print-btn', 'vm-full-btn']) {
      if (['vm-first', 'vm-prev'].includes(id)) continue; // off on the cover, so not focusable
      assert.ok(seen.includes(id), `${id} reached by Tab: ${seen}`);
    }
    // Enter on a focused button acts.
    await page.focus('#vm-next');
    await page.keyboard.press('Enter');
    await expectPages(page, [2, 3]);
    await page.waitForFunction(() => /Chapter 2/.test(document.querySelector('.vm-page[data-page="2"] .vm-bg').alt), null, WAIT);
    assert.equal(await page.$$eval('#vm-email, #vm-note-btn', (e) => e.length), 0, 'e-mail and note buttons only when switched on');
    await finish(t, 'keyboard');
  }]);

  for (const mode of ['french', 'frenchFile']) {
    tests.push([`${mode}: French toolbar, e-mail link with the book address, notes kept per page`, async () => {
      const t = await open(books[mode]);
      const { page } = t;
      assert.equal(await page.getAttribute('html', 'lang'), 'fr');
      assert.equal(await page.getAttribute('#vm-next', 'aria-label'), 'Page suivante');
      assert.equal(await page.getAttribute('#vm-search-btn', 'aria-label'), 'Rechercher');
      assert.equal(await page.getAttribute('#vm-share-btn', 'aria-label'), 'Partager');
      await page.click('#vm-next');
      await expectPages(page, [2, 3]);
      const mail = await page.getAttribute('#vm-email', 'href');
      assert.match(mail, /^mailto:\?subject=/);
      const address = page.url();
      assert.ok(decodeURIComponent(mail).includes(address), `${mail} holds ${address}`);
      await page.click('#vm-note-btn');
      await page.fill('#vm-note-3', 'Remember the cheetah');
      await page.reload();
      await page.waitForSelector('#vm-app[data-ready]', WAIT);
      await expectPages(page, [2, 3]);
      assert.ok(await page.$eval('#vm-note-btn', (b) => b.classList.contains('vm-has-note')), 'the note button marks a page with a note');
      await page.click('#vm-note-btn');
      assert.equal(await page.inputValue('#vm-note-3'), 'Remember the cheetah');
      assert.equal(await page.inputValue('#vm-note-2'), '');
      await page.fill('#vm-note-3', '');
      assert.ok(!(await page.$eval('#vm-note-btn', (b) => b.classList.contains('vm-has-note'))), 'an emptied note is removed');
      await finish(t, `${mode}-toolbar`);
    }]);
  }

  tests.push(['share copies the address of the page read with a note, or hands it to the share sheet', async () => {
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: new URL(books.http).origin });
    const t = await open(`${books.http}#page=4`);
    const { page } = t;
    assert.equal(await page.getAttribute('#vm-share-btn', 'aria-label'), 'Share');
    assert.equal(await page.$$eval('#vm-download', (e) => e.length), 0, 'no download button unless the PDF is offered');
    await page.click('#vm-share-btn');
    await page.waitForSelector('#vm-share-note:not([hidden])', WAIT);
    assert.equal(await page.textContent('#vm-share-note'), 'Link copied');
    assert.ok(await page.isVisible('#vm-share-note'), 'the note is seen');
    assert.equal(await page.evaluate(() => navigator.clipboard.readText()), `${books.http}#page=4`);
    // Where the browser has a share sheet, the address goes there instead.
    await page.evaluate(() => { navigator.share = (data) => { window.sharedWith = data; return Promise.resolve(); }; });
    await page.click('#vm-next');
    await expectPages(page, [6, 7]);
    await page.click('#vm-share-btn');
    assert.deepEqual(await page.evaluate(() => window.sharedWith), { title: TITLE, url: `${books.http}#page=6` });
    await finish(t, 'share');
  }]);

  tests.push(['a note the browser cannot keep is reported, not lost in silence', async () => {
    const page = await context.newPage();
    await page.addInitScript(() => {
      Storage.prototype.setItem = () => { throw new DOMException('full', 'QuotaExceededError'); };
    });
    await page.goto(books.french);
    await page.waitForSelector('#vm-app[data-ready]', WAIT);
    await page.click('#vm-note-btn');
    await page.fill('#vm-note-1', 'Lost?');
    assert.equal(await page.textContent('#vm-note-status'), 'Ce navigateur ne garde pas les notes.');
    assert.equal(await page.getAttribute('#vm-note-1', 'aria-invalid'), 'true');
    await page.close();
  }]);

  tests.push(['service page opens a book at a page and refuses other addresses', async () => {
    const key = books.http.match(/([0-9A-F]{32})\/index\.html$/)[1];
    const page = await context.newPage();
    await page.goto(`${server.url}service.asp?book=${key.toLowerCase()}&page=3`);
    await page.waitForSelector('#vm-app[data-ready]', WAIT);
    await expectPages(page, [2, 3]);
    assert.ok(page.url().endsWith(`${key}/index.html#page=3`));
    await page.goto(`${server.url}service.asp?book=..%2F..%2Fetc&page=1`);
    await page.waitForTimeout(300);
    assert.match(page.url(), /service\.asp\?/, 'no redirect for a book that is not a job key');
    await page.close();
  }]);

  return tests;
}
