// How sharp the shown pages are at pixel ratios 1, 2 and 3, on a phone held upright and
// in a landscape desktop window, what the first spread fetches, and that a change of the
// pixel ratio brings sharper images without the page going blank.
import assert from 'node:assert/strict';

const WAIT = { timeout: 20000 };
const SCREENS = [
  { name: 'phone', width: 390, height: 844, mobile: true },
  { name: 'desktop', width: 1366, height: 800, mobile: false },
];

export function sharpnessTests(env) {
  const { context, books } = env;

  async function open(screen, ratio, url = books.http) {
    const page = await context.newPage();
    const cdp = await context.newCDPSession(page);
    await cdp.send('Emulation.setDeviceMetricsOverride',
      { width: screen.width, height: screen.height, deviceScaleFactor: ratio, mobile: screen.mobile });
    const requests = [];
    page.on('request', (r) => requests.push(new URL(r.url()).pathname));
    await page.goto(url);
    await page.waitForSelector('#vm-app[data-ready]', WAIT);
    return { page, cdp, requests };
  }

  // Image pixels per device pixel of each shown page, with its set and the largest one
  // the zoom layer could give. An image chosen from a list of sets reports its size
  // divided by its density, so the pixels are counted on a plain copy of the file.
  const shown = (page) => page.$$eval('#vm-book .vm-page:not(.vm-blank)', (pages) => Promise.all(pages.map(async (el) => {
    const bg = el.querySelector('.vm-bg'), fg = el.querySelector('.vm-fg');
    const pixels = async (img) => {
      const copy = new Image();
      copy.src = img.currentSrc || img.src;
      await copy.decode();
      return [copy.naturalWidth, copy.naturalHeight];
    };
    const device = bg.getBoundingClientRect().height * devicePixelRatio;
    const [bgSize, fgSize] = [await pixels(bg), fg.hidden ? null : await pixels(fg)];
    // Text drawn from the tiles once they are all in: the least sharp tile counts.
    const tiles = [...el.querySelectorAll('.vm-tiles img')];
    const tiled = fg.style.visibility === 'hidden' && tiles.length > 0 && tiles.every((t) => t.complete && t.naturalWidth > 0);
    return {
      page: +el.dataset.page,
      set: /\/([^/]+)\/img-\d+\.jpg$/.exec(bg.currentSrc || bg.src)[1],
      loaded: bg.complete && bg.naturalHeight > 0,
      perDevicePixel: bgSize[1] / device,
      textPerDevicePixel: tiled ? Math.min(...tiles.map((t) => t.naturalHeight / (t.getBoundingClientRect().height * devicePixelRatio)))
        : fgSize ? fgSize[1] / device : bgSize[1] / device,
      zoomLayer: +document.querySelector('#vm-app').dataset.pageHeight / device,
      sameLayer: tiled || !fgSize || (fgSize[0] === bgSize[0] && fgSize[1] === bgSize[1]),
    };
  })));

  return [
    ['the shown pages have about one image pixel per device pixel at ratios 1, 2 and 3, phone and desktop', async () => {
      for (const screen of SCREENS) {
        for (const ratio of [1, 2, 3]) {
          const what = `${screen.name} at ratio ${ratio}`;
          const { page, requests } = await open(screen, ratio);
          await page.waitForLoadState('networkidle');
          const pages = await shown(page);
          assert.ok(pages.length >= 1, `${what}: a page is shown`);
          for (const p of pages) {
            assert.ok(p.loaded && p.sameLayer, `${what}: page ${p.page} loaded, its text from its own set or the tiles`);
            // Where even the zoom layer has fewer pixels than the screen, it is the one shown.
            const goal = Math.min(0.9, p.zoomLayer);
            assert.ok(p.perDevicePixel >= goal - 0.005,
              `${what}: page ${p.page} from ${p.set} has ${p.perDevicePixel.toFixed(2)} image pixels per device pixel`);
            assert.ok(p.textPerDevicePixel >= 0.9 - 0.005,
              `${what}: page ${p.page}'s text has ${p.textPerDevicePixel.toFixed(2)} image pixels per device pixel`);
          }
          if (ratio === 1) {
            assert.ok(!requests.some((r) => r.includes('/100/')), `${what}: no zoom-layer image`);
            const first = requests.filter((r) => /\/img-1\.jpg$/.test(r));
            assert.equal(first.length, 1, `${what}: page 1 fetched once: ${first}`);
          }
          await page.close();
        }
      }
    }],

    ['nothing but the first spread is fetched before it is up, from the page head on, also at #page=N', async () => {
      const screen = SCREENS[1];
      for (const [hash, spread] of [['', [1]], ['#page=4', [4, 5]]]) {
        const { page, requests } = await open(screen, 1, books.http + hash);
        // What was asked for before the first spread was marked as shown.
        const before = await page.evaluate(() => {
          const mark = performance.getEntriesByName('vm-first-spread')[0].startTime;
          return performance.getEntriesByType('resource').filter((e) => e.startTime <= mark)
            .map((e) => new URL(e.name).pathname);
        });
        const pageFiles = before.filter((p) => /\/(txt|layout)\.js$|\/(LowRes|MedRes|HighRes|100|thumb)\//.test(p));
        const images = pageFiles.filter((p) => /img-/.test(p)).map((p) => +/img-(\d+)/.exec(p)[1]);
        assert.ok(!pageFiles.some((p) => /\/txt\.js$|\/thumb\//.test(p)), `${hash || 'page 1'}: no page text or thumbnail first: ${pageFiles}`);
        for (const n of images) {
          // A deep link still finds page 1 announced by the head.
          assert.ok(spread.includes(n) || n === 1, `${hash || 'page 1'}: only the first spread's images: ${pageFiles}`);
        }
        for (const n of spread) assert.ok(images.includes(n), `${hash || 'page 1'}: page ${n} asked for: ${pageFiles}`);
        assert.ok(requests.length > before.length, 'the rest follows once the spread is up');
        await page.close();
      }
    }],

    ['a window moved to a screen of twice the pixels gets sharper images, the lower ones staying until they are in', async () => {
      const screen = SCREENS[1];
      const { page, cdp } = await open(screen, 1);
      await page.waitForLoadState('networkidle');
      assert.deepEqual((await shown(page)).map((p) => p.set), ['HighRes']);
      // Every change to the book is watched: a shown page must never be empty or loading.
      await page.evaluate(() => {
        window.blankSeen = [];
        const check = () => {
          const pages = document.querySelectorAll('#vm-book .vm-page:not(.vm-blank)');
          const bad = !pages.length || [...pages].some((p) => p.classList.contains('vm-loading') || !p.querySelector('.vm-bg').complete);
          if (bad) window.blankSeen.push(document.querySelector('#vm-app').dataset.current);
        };
        new MutationObserver(check).observe(document.querySelector('#vm-book'), { subtree: true, childList: true, attributes: true });
      });
      // The window moves to a screen of twice the pixels and is made a little narrower
      // there (headless Chromium reports a change of the ratio alone to no page).
      await cdp.send('Emulation.setDeviceMetricsOverride',
        { width: screen.width - 86, height: screen.height, deviceScaleFactor: 2, mobile: false });
      await page.waitForFunction(() => /\/100\/img-1\.jpg$/.test(document.querySelector('#vm-book .vm-bg').currentSrc), null, WAIT);
      const [p] = await shown(page);
      assert.ok(p.perDevicePixel >= 0.9, `${p.perDevicePixel.toFixed(2)} image pixels per device pixel`);
      assert.deepEqual(await page.evaluate(() => window.blankSeen), [], 'the page never went blank');
      await page.close();
    }],
  ];
}
