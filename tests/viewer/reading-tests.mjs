// Reading at speed in a book of several layout and text pieces: a held key, a jump, reduced
// motion, and the layout and search text that come piece by piece as they are needed.
import assert from 'node:assert/strict';
import { join } from 'node:path';

const WAIT = { timeout: 8000 };

export function readingTests({ context, artifacts, longBook, longPages, pageWord }) {
  async function open(url, { viewport = { width: 1366, height: 800 }, reducedMotion = null } = {}) {
    const page = await context.newPage();
    await page.setViewportSize(viewport);
    if (reducedMotion) await page.emulateMedia({ reducedMotion });
    const requests = [], errors = [];
    page.on('request', (r) => requests.push(new URL(r.url()).pathname.split('/').pop()));
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
  // Pages on show once the book has shown them (no turn running or waiting).
  const settled = (page, want) => page.waitForFunction((w) => document.querySelector('#vm-app').dataset.current === w &&
    !document.querySelector('#vm-app').classList.contains('vm-turning'), want, WAIT);
  const slotPages = (page) => page.$$eval('#vm-book .vm-slot .vm-page[data-page]', (ps) => ps.map((p) => +p.dataset.page));

  return [
    ['a held arrow key moves 20 spreads in at most 4 s, and no frame shows a blank or loading page', async () => {
      const t = await open(longBook);
      const { page } = t;
      // Every frame is sampled: each page on show (the turning leaf's too) must have its image.
      await page.evaluate(() => {
        window.frames_ = { seen: 0, blank: [] };
        const sample = () => {
          const pages = [...document.querySelectorAll('#vm-book .vm-page:not(.vm-blank)')];
          const bad = !pages.length || pages.some((p) => p.classList.contains('vm-loading') ||
            !p.querySelector('.vm-bg').complete || !p.querySelector('.vm-bg').naturalWidth);
          window.frames_.seen++;
          if (bad) window.frames_.blank.push(document.querySelector('#vm-app').dataset.current);
          requestAnimationFrame(sample);
        };
        requestAnimationFrame(sample);
      });
      // A held key repeats about 30 times a second; it is let go after 20 repeats, at
      // the 20th spread forward (pages 40 and 41).
      const t0 = Date.now();
      for (let i = 0; i < 20; i++) {
        await page.keyboard.down('ArrowRight');
        await page.waitForTimeout(33);
      }
      await page.keyboard.up('ArrowRight');
      await settled(page, '40,41');
      const ms = Date.now() - t0;
      assert.deepEqual(await slotPages(page), [40, 41]);
      const frames = await page.evaluate(() => window.frames_);
      assert.ok(ms <= 4000, `20 spreads took ${ms} ms`);
      assert.ok(frames.seen >= 10, `${frames.seen} frames sampled`);
      assert.deepEqual(frames.blank, [], 'no blank page at any frame');
      await finish(t, 'held-key');
    }],

    ['a jump keeps the spread on show until its images are in, then shows its target within 300 ms', async () => {
      const t = await open(longBook);
      const { page } = t;
      // The page notes when the target first stands in the slots with its images.
      await page.evaluate(() => {
        const book = document.querySelector('#vm-book');
        new MutationObserver(() => {
          const shown = [...book.querySelectorAll('.vm-slot .vm-page[data-page]')];
          if (!window.shownAt_ && shown.map((p) => p.dataset.page).join() === '60,61' &&
            shown.every((p) => p.querySelector('.vm-bg').complete)) window.shownAt_ = performance.now();
        }).observe(book, { subtree: true, childList: true });
      });
      // The target's images are held back on their way, then let through.
      const held = [];
      let released = false;
      await page.route(/\/img-(60|61)(-f\.png|\.jpg)$/, (route) => (released ? route.continue() : held.push(route)));
      await page.fill('#vm-pagenum', '61');
      await page.press('#vm-pagenum', 'Enter');
      await page.waitForFunction(() => document.querySelector('#vm-app').dataset.current === '60,61', null, WAIT);
      await page.waitForTimeout(300);
      assert.deepEqual(await slotPages(page), [1], 'the first spread stays while the target\'s images are on their way');
      assert.ok(held.length >= 2, `${held.length} images held`);
      released = true;
      await Promise.all(held.map((r) => r.continue()));
      await settled(page, '60,61');
      assert.deepEqual(await slotPages(page), [60, 61]);
      // From the last of the target's images to arrive until the target stood there.
      const ms = await page.evaluate(() => window.shownAt_ - Math.max(...performance.getEntriesByType('resource')
        .filter((e) => /\/img-(60|61)(-f\.png|\.jpg)$/.test(e.name)).map((e) => e.responseEnd)));
      assert.ok(ms >= 0 && ms <= 300, `the target showed ${Math.round(ms)} ms after its images`);
      await finish(t, 'jump');
    }],

    ['turns animate as the page says, and not at all for a reader who asks for reduced motion or a length of 0', async () => {
      const leaves = async (page, turn) => {
        await page.evaluate(() => {
          window.leaves_ = 0;
          new MutationObserver((ms) => ms.forEach((m) => m.addedNodes.forEach((n) => {
            if (n.classList && n.classList.contains('vm-leaf')) window.leaves_++;
          }))).observe(document.querySelector('#vm-book'), { childList: true });
        });
        await turn();
        await settled(page, '2,3');
        return page.evaluate(() => window.leaves_);
      };
      const plain = await open(longBook);
      assert.equal(await plain.page.$eval('#vm-app', (a) => a.dataset.turnMs), '650', 'the template gives the length');
      assert.equal(await leaves(plain.page, () => plain.page.click('#vm-next')), 1, 'a turn animates');
      await plain.page.close();
      const still = await open(longBook);
      await still.page.evaluate(() => { document.querySelector('#vm-app').dataset.turnMs = '0'; });
      assert.equal(await leaves(still.page, () => still.page.click('#vm-next')), 0, 'a length of 0 animates nothing');
      await still.page.close();
      const reduced = await open(longBook, { reducedMotion: 'reduce' });
      assert.equal(await leaves(reduced.page, () => reduced.page.keyboard.press('ArrowRight')), 0, 'reduced motion');
      await finish(reduced, 'reduced-motion');
    }],

    ['the text comes in pieces: none before the first spread, the shown pages\' after it, the rest for a search', async () => {
      const t = await open(longBook);
      const { page, requests } = t;
      const before = await page.evaluate(() => {
        const mark = performance.getEntriesByName('vm-first-spread')[0].startTime;
        return performance.getEntriesByType('resource').filter((e) => e.startTime <= mark).map((e) => e.name.split('/').pop());
      });
      assert.ok(!before.some((f) => /^txt/.test(f)), `no text before the first spread: ${before}`);
      assert.ok(before.includes('layout-1.js') && !before.includes('layout.js'), `the first layout piece only: ${before}`);
      // The shown page gets its text layer; no other piece of text is fetched.
      await page.waitForSelector('.vm-slot .vm-page[data-page="1"] .vm-text span', WAIT);
      await page.waitForTimeout(300);
      assert.deepEqual(requests.filter((f) => /^txt/.test(f)), ['txt-1.js']);
      // A word of the last page is found in the last piece; a word of every page lists them all.
      await page.click('#vm-search-btn');
      const last = pageWord(longPages);
      await page.fill('#vm-search-box', last);
      await page.press('#vm-search-box', 'Enter');
      await page.waitForSelector('.vm-result', WAIT);
      assert.deepEqual(await page.$$eval('.vm-result', (bs) => bs.map((b) => +b.dataset.page)), [longPages]);
      assert.ok(requests.includes(`txt-${Math.floor((longPages - 1) / 32) * 32 + 1}.js`) && !requests.includes('txt.js'));
      await page.fill('#vm-search-box', 'plain text');
      await page.press('#vm-search-box', 'Enter');
      await page.waitForFunction((n) => document.querySelectorAll('.vm-result').length === n, longPages, WAIT);
      const pages = await page.$$eval('.vm-result', (bs) => bs.map((b) => +b.dataset.page));
      assert.deepEqual(pages, Array.from({ length: longPages }, (_, i) => i + 1), 'every page once, in order');
      // The hit on the last page turns there, whose layout piece then gives it its marks.
      await page.fill('#vm-search-box', last);
      await page.press('#vm-search-box', 'Enter');
      await page.click(`.vm-result[data-page="${longPages}"]`);
      await page.waitForSelector(`.vm-slot .vm-page[data-page="${longPages}"] .vm-hit`, WAIT);
      await finish(t, 'text-pieces');
    }],
  ];
}
