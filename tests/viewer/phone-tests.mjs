// The reader on a phone: a 390 x 844 portrait touch screen. One toolbar row with a menu,
// the page as wide as the screen, pinch and double-tap zoom, the toolbar out of the way.
import assert from 'node:assert/strict';
import { join } from 'node:path';
import { launch } from './lib/browser.mjs';
import { wordBoxOnScreen } from './lib/words.mjs';

const WAIT = { timeout: 8000 };
const PHONE = { width: 390, height: 844 };

export function phoneTests(env) {
  const { artifacts, books, logo } = env;

  // Each test gets a touch browser of its own (by default the phone's screen at one device
  // pixel per CSS pixel) and a book (by default the first on page 2); `prepare` may set the
  // browser up before the book opens.
  async function withPhone(shot, fn, { url = `${books.http}#page=2`, prepare = null, viewport = PHONE, ratio = 1 } = {}) {
    const browser = await launch({ viewport, hasTouch: true, deviceScaleFactor: ratio });
    try {
      if (prepare) await prepare(browser.context);
      const page = await browser.context.newPage();
      const errors = [];
      page.on('pageerror', (e) => errors.push(e.message));
      await page.goto(url);
      await page.waitForSelector('#vm-app[data-ready]', WAIT);
      await fn(page, await page.context().newCDPSession(page));
      await page.screenshot({ path: join(artifacts, `${shot}.png`) });
      assert.deepEqual(errors, [], 'no script errors');
    } finally {
      await browser.close();
    }
  }

  const box = (page, sel) => page.$eval(sel, (el) => { const r = el.getBoundingClientRect(); return { x: r.x, y: r.y, w: r.width, h: r.height }; });
  const bookScale = (page) => page.$eval('#vm-book', (b) => b.getBoundingClientRect().width / b.offsetWidth);

  // Touches through the browser's input layer, as a finger would make them.
  async function touch(cdp, type, points) {
    await cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points.map(([x, y], id) => ({ x, y, id })) });
  }

  // Two fingers on a diagonal through `at`, spread from `from` to `to` px apart in `moves`
  // moves, one per frame as fingers make them.
  async function pinch(page, cdp, at, from, to, moves) {
    const fingers = (d) => { const h = d / 2 / Math.SQRT2; return [[at.x - h, at.y - h], [at.x + h, at.y + h]]; };
    await touch(cdp, 'touchStart', fingers(from));
    for (let i = 1; i <= moves; i++) {
      await touch(cdp, 'touchMove', fingers(from + (to - from) * i / moves));
      await page.waitForTimeout(20);
    }
    await touch(cdp, 'touchEnd', []);
  }

  // One finger drawn from `at` by (dx, dy) in ten moves.
  async function drag(page, cdp, at, dx, dy) {
    await touch(cdp, 'touchStart', [[at.x, at.y]]);
    for (let i = 1; i <= 10; i++) {
      await touch(cdp, 'touchMove', [[at.x + dx * i / 10, at.y + dy * i / 10]]);
      await page.waitForTimeout(20);
    }
    await touch(cdp, 'touchEnd', []);
  }

  // The area of the stage (which clips the book) that the book covers.
  const shownArea = (page) => page.$eval('#vm-book', (b) => {
    const r = b.getBoundingClientRect(), s = document.querySelector('#vm-stage').getBoundingClientRect();
    return Math.max(0, Math.min(r.right, s.right) - Math.max(r.left, s.left)) *
      Math.max(0, Math.min(r.bottom, s.bottom) - Math.max(r.top, s.top));
  });

  // Spreads of 5 to 40 moves centred on a word keep it under the fingers and the page on
  // the screen; one finger then pans the page, and a pinch back under 1 fits it again.
  async function pinchZoomKeepsTheWord(page, cdp) {
    await page.waitForFunction(() => window.VELLUMARK_BOOK_LAYOUT && window.VELLUMARK_BOOK_TEXT, null, WAIT);
    const fitted = await box(page, '#vm-book');
    const shown = await page.$eval('#vm-app', (a) => a.dataset.current);
    const word = await wordBoxOnScreen(page, 2, 'alternative', '.vm-slot');
    const at = { x: word.x + word.w / 2, y: word.y + word.h / 2 };
    for (const to of [200, 400]) {
      for (const moves of [5, 10, 40]) {
        const what = `100 to ${to} px in ${moves} moves`;
        await pinch(page, cdp, at, 100, to, moves);
        assert.ok(Math.abs(await bookScale(page) - to / 100) < 0.02, `${what}: scale ${await bookScale(page)}`);
        const w = await wordBoxOnScreen(page, 2, 'alternative', '.vm-slot');
        const off = [w.x + w.w / 2 - at.x, w.y + w.h / 2 - at.y];
        assert.ok(Math.hypot(...off) <= 10, `${what}: the word is ${off.map((v) => v.toFixed(1))} px off the fingers`);
        const area = await shownArea(page);
        assert.ok(area >= fitted.w * fitted.h / 2, `${what}: ${area.toFixed(0)} px² of the page shown`);

        // The page follows one finger, and does not leave the screen however far it is drawn.
        const before = await box(page, '#vm-book');
        await drag(page, cdp, at, -30, -50);
        const after = await box(page, '#vm-book');
        assert.ok(Math.abs(after.x - before.x + 30) < 1 && Math.abs(after.y - before.y + 50) < 1,
          `${what}: panned by ${after.x - before.x}, ${after.y - before.y}`);
        const stage = await box(page, '#vm-stage');
        for (let i = 0; i < 4; i++) await drag(page, cdp, { x: stage.x + 20, y: stage.y + 80 }, stage.w - 40, stage.h - 100);
        assert.ok(await shownArea(page) >= stage.w * stage.h / 4 - 1, `${what}: the page left the screen`);

        await pinch(page, cdp, at, to, 80, moves);
        assert.equal(await page.$eval('#vm-book', (b) => b.style.transform), '', `${what}: pinched back`);
        assert.deepEqual(await box(page, '#vm-book'), fitted, `${what}: the fitted page again`);
      }
    }
    assert.equal(await page.$eval('#vm-app', (a) => a.dataset.current), shown, 'pinches and pans do not turn the page');
    // The screenshot shows the page zoomed on the word.
    await pinch(page, cdp, at, 100, 250, 20);
  }

  // Tiles are fetched for the visible part of a page only, each once; and the image pixels
  // per device pixel of the tiles in view.
  const tileRequests = (page) => {
    const fetched = [];
    page.on('request', (r) => { const m = /\/tiles\/img-(\d+-\d+-\d+)\.png$/.exec(r.url()); if (m) fetched.push(m[1]); });
    return fetched;
  };
  const tilesInView = (page, sel, clip) => page.$eval(sel, (el, clip) => {
    const T = window.VELLUMARK_BOOK_TILES, n = +el.dataset.page, info = T.pages[n - 1], dpr = devicePixelRatio;
    const st = document.querySelector(clip).getBoundingClientRect();
    const area = el.querySelector('.vm-tiles').getBoundingClientRect();
    const vis = { l: Math.max(area.left, st.left, 0), t: Math.max(area.top, st.top, 0),
      r: Math.min(area.right, st.right, innerWidth), b: Math.min(area.bottom, st.bottom, innerHeight) };
    const cols = Math.ceil(info.w / T.size), rows = Math.ceil(info.h / T.size), k = area.width / info.w;
    const visible = [], ratios = [];
    for (let t = 0; t < cols * rows; t++) {
      if (!((parseInt(info.tiles[t >> 2], 16) >> (t & 3)) & 1)) continue;
      const x = t % cols, y = Math.floor(t / cols);
      const l = area.left + x * T.size * k, tp = area.top + y * T.size * k;
      if (l < vis.r && l + T.size * k > vis.l && tp < vis.b && tp + T.size * k > vis.t) visible.push(`${n}-${x}-${y}`);
    }
    for (const tile of el.querySelectorAll('.vm-tiles img')) {
      const r = tile.getBoundingClientRect();
      if (r.right > vis.l && r.left < vis.r && r.bottom > vis.t && r.top < vis.b) ratios.push(tile.naturalWidth / (r.width * dpr));
    }
    return { visible: visible.sort(), ratios, total: cols * rows };
  }, clip);
  const textFromTiles = (page, sel) =>
    page.waitForFunction((s) => document.querySelector(s + ' .vm-fg').style.visibility === 'hidden', sel, WAIT);

  // At ratio 3 the page's text comes from the tiles already at the fitted size (the zoom
  // layer's own images have fewer pixels than the screen), and zoomed to twice that size
  // it stays at least 0.9 image pixels per device pixel, with no tile fetched twice.
  async function zoomDrawsVisibleTiles(page, cdp) {
    const fetched = tileRequests(page);
    const sel = '.vm-slot .vm-page[data-page="2"]';
    await textFromTiles(page, sel);
    const fitted = await tilesInView(page, sel, '#vm-stage');
    assert.ok(fitted.visible.length >= 2, `tiles in view: ${fitted.visible}`);
    assert.ok(Math.min(...fitted.ratios) >= 0.9, `fitted: image pixels per device pixel ${fitted.ratios.map((r) => r.toFixed(2))}`);
    const img = await box(page, sel + ' .vm-bg');
    await pinch(page, cdp, { x: img.x + img.w / 2, y: img.y + img.h / 3 }, 100, 200, 10);
    assert.ok(Math.abs(await bookScale(page) - 2) < 0.02, `scale ${await bookScale(page)}`);
    await page.waitForTimeout(400);
    await textFromTiles(page, sel);
    const zoomed = await tilesInView(page, sel, '#vm-stage');
    assert.equal(zoomed.ratios.length, zoomed.visible.length);
    assert.ok(Math.min(...zoomed.ratios) >= 0.9, `zoomed: image pixels per device pixel ${zoomed.ratios.map((r) => r.toFixed(2))}`);
    assert.equal(new Set(fetched).size, fetched.length, `each tile once: ${fetched}`);
    for (const t of fetched) assert.ok(/^[123]-/.test(t), `tiles of the pages on show and their neighbours only: ${t}`);
  }

  // In the zoom view of a desktop window, which shows part of a page, exactly the tiles of
  // the visible part are fetched, and none before the zoom view opens.
  async function zoomViewFetchesVisibleTiles(page) {
    const fetched = tileRequests(page);
    await page.waitForLoadState('networkidle');
    assert.deepEqual(fetched, [], 'no tile at the fitted size');
    await page.click('#vm-zoom-btn');
    const sel = '.vm-zoom-page[data-page="2"]';
    await page.waitForSelector(sel + ' .vm-tiles', WAIT);
    await textFromTiles(page, sel);
    const seen = await tilesInView(page, sel, '#vm-zoom-view');
    assert.ok(seen.visible.length >= 2 && seen.visible.length < seen.total, `part of the page in view: ${seen.visible}`);
    assert.deepEqual(fetched.filter((t) => t.startsWith('2-')).sort(), seen.visible, 'the tiles fetched are those of the visible area');
    assert.equal(new Set(fetched).size, fetched.length, 'each tile once');
  }

  // The toolbar is one row at most 56 px tall: every control's middle at the same height.
  async function expectOneRow(page) {
    const bar = await box(page, '#vm-bar');
    assert.ok(bar.h <= 56, `toolbar ${bar.h} px tall`);
    const tops = await page.$$eval('#vm-bar .vm-tools > * :is(button, input), #vm-bar > a, #vm-menu-btn', (els) =>
      els.filter((e) => e.offsetParent !== null).map((e) => Math.round(e.getBoundingClientRect().top + e.getBoundingClientRect().height / 2)));
    assert.ok(tops.length >= 5 && Math.max(...tops) - Math.min(...tops) <= 2, `one row: ${tops}`);
    return bar;
  }

  // A publisher's logo three times as wide as high.
  const LOGO_SVG = '<svg xmlns="http://www.w3.org/2000/svg" width="240" height="80"><rect width="240" height="80" fill="#1b5e9a"/>' +
    '<text x="120" y="52" font-size="36" text-anchor="middle" fill="#fff">Press</text></svg>';

  return [
    ['phone: one toolbar row with a menu, and the page as wide as the screen', () => withPhone('phone-layout', async (page) => {
      await expectOneRow(page);
      const img = await box(page, '.vm-slot .vm-page[data-page="2"] .vm-bg');
      assert.ok(img.w >= 0.95 * PHONE.width, `page ${img.w} px wide`);
      // The less used commands are in the menu.
      assert.ok(await page.$eval('#vm-thumbs-btn', (b) => b.closest('#vm-menu') !== null));
      await page.tap('#vm-menu-btn');
      await page.waitForSelector('#vm-menu:not([hidden])', WAIT);
      await page.tap('#vm-thumbs-btn');
      await page.waitForSelector('#vm-thumbs:not([hidden])', WAIT);
      assert.ok(await page.$eval('#vm-menu', (m) => m.hidden), 'choosing a command closes the menu');
    })],

    ['phone: a publisher logo as the home link keeps the toolbar to one row', () => withPhone('phone-logo', async (page) => {
      await page.waitForFunction(() => document.querySelector('#vm-home img').naturalWidth > 0, null, WAIT);
      const bar = await expectOneRow(page);
      const home = await page.$eval('#vm-home', (a) => ({ href: a.href, src: a.querySelector('img').src }));
      assert.deepEqual(home, { href: logo.site, src: logo.image });
      // The logo is shown whole, inside the bar and in its shape.
      const img = await box(page, '#vm-home img');
      assert.ok(img.w >= 40 && img.h >= 16, `logo ${img.w} x ${img.h} px`);
      assert.ok(img.y >= bar.y && img.y + img.h <= bar.y + bar.h && img.x >= 0, 'inside the bar');
      assert.ok(Math.abs(img.w / img.h - 3) < 0.1, `in its shape: ${img.w} x ${img.h}`);
      // Its name stays for screen readers.
      assert.equal(await page.getByRole('link', { name: /Home/ }).count(), 1);
    }, { url: books.logo, prepare: (context) => context.route(logo.image, (r) => r.fulfill({ contentType: 'image/svg+xml', body: LOGO_SVG })) })],

    ['phone: double tap and pinch zoom the page; the toolbar steps aside and comes back on a tap', () => withPhone('phone-zoom', async (page, cdp) => {
      const img = await box(page, '.vm-slot .vm-page[data-page="2"] .vm-bg');
      const cx = img.x + img.w / 2, cy = img.y + img.h / 2;
      // A turn sends the toolbar away; a tap brings it back.
      await page.keyboard.press('ArrowRight');
      await page.waitForFunction(() => document.querySelector('#vm-app').dataset.current === '3', null, WAIT);
      await page.waitForFunction(() => document.querySelector('#vm-app').classList.contains('vm-bar-off'), null, WAIT);
      await page.touchscreen.tap(cx, cy);
      await page.waitForFunction(() => !document.querySelector('#vm-app').classList.contains('vm-bar-off'), null, WAIT);

      await page.touchscreen.tap(cx, cy);
      await page.waitForTimeout(80);
      await page.touchscreen.tap(cx, cy);
      await page.waitForFunction(() => document.querySelector('#vm-app').classList.contains('vm-touch-zoomed'), null, WAIT);
      assert.ok(Math.abs(await bookScale(page) - 2.5) < 0.01, 'double tap zooms in');
      // The point tapped stays under the finger.
      const after = await box(page, '.vm-slot .vm-page[data-page="3"] .vm-bg');
      assert.ok(Math.abs(after.x + after.w / 2 - cx) < 2 && Math.abs(after.y + after.h / 2 - cy) < 2, 'zoomed at the tap');
      await page.touchscreen.tap(cx, cy);
      await page.waitForTimeout(80);
      await page.touchscreen.tap(cx, cy);
      await page.waitForFunction(() => !document.querySelector('#vm-app').classList.contains('vm-touch-zoomed'), null, WAIT);

      // Two fingers moving apart to twice their distance double the size.
      await touch(cdp, 'touchStart', [[cx - 40, cy], [cx + 40, cy]]);
      for (const d of [50, 60, 70, 80]) {
        await touch(cdp, 'touchMove', [[cx - d, cy], [cx + d, cy]]);
        await page.waitForTimeout(30); // one move per frame, as fingers make them
      }
      await touch(cdp, 'touchEnd', []);
      assert.ok(Math.abs(await bookScale(page) - 2) < 0.05, `pinch zooms: ${await bookScale(page)}`);
      assert.equal(await page.$eval('#vm-app', (a) => a.dataset.current), '3', 'a pinch does not turn the page');
    })],

    ['phone: pinch zoom keeps the word under the fingers and the page on the screen',
      () => withPhone('phone-pinch', pinchZoomKeepsTheWord, { ratio: 3 })],
    ['phone: at ratio 3 the text is drawn sharp from the tiles, fitted and zoomed to twice that size, each tile fetched once',
      () => withPhone('phone-tiles', zoomDrawsVisibleTiles, { ratio: 3 })],
    ['desktop zoom view: only the tiles of the part of the page in view are fetched',
      () => withPhone('desktop-zoom-tiles', zoomViewFetchesVisibleTiles, { viewport: { width: 1366, height: 800 } })],
    ['touch screen: pinch zoom keeps the word under the fingers and the spread on the screen',
      () => withPhone('touch-screen-pinch', pinchZoomKeepsTheWord, { viewport: { width: 1366, height: 800 } })],
  ];
}
