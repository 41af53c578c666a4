// A book inside another site's page, and a book made with a template that predates the
// link-preview tags. The host page is served from a second web server on 127.0.0.1, so
// the frame and its host are of different origins, as on a real site.
import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, relative } from 'node:path';
import { startServer } from './lib/server.mjs';

const WAIT = { timeout: 8000 };
const require = createRequire(import.meta.url);

export function embedTests(env) {
  const { context, artifacts, books, title: TITLE, server, maker, pdf, work, account } = env;
  const escape = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;').replace(/"/g, '&quot;');
  const current = (frame) => frame.$eval('#vm-app', (a) => a.dataset.current);

  // The host page: some text, the book in a frame written the way the program's embed
  // code writes it, and the same book in a frame that does not allow full screen.
  async function hostPage(book) {
    const folder = mkdtempSync(join(work, 'host-'));
    writeFileSync(join(folder, 'index.html'), `<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>A site with a book</title></head>
<body style="width: 800px; margin: 0 auto">
<h1>Our annual report</h1>
<p><a id="before" href="#here">A link before the book</a></p>
<iframe id="embedded" src="${escape(book)}" title="${escape(TITLE)}" style="width: 100%; aspect-ratio: 136 / 99; border: 0" allow="fullscreen" allowfullscreen loading="lazy"></iframe>
<iframe id="plain" src="${escape(book)}#page=4" title="Without full screen" style="width: 100%; height: 420px; border: 0" loading="lazy"></iframe>
</body></html>`);
    return { folder, host: await startServer(folder) };
  }

  async function bookIn(page, selector) {
    const frame = await (await page.waitForSelector(selector, WAIT)).contentFrame();
    await frame.waitForSelector('#vm-app[data-ready]', WAIT);
    return frame;
  }

  const tests = [];
  tests.push(['embedded: the book reads in a frame of another site, turns by keyboard and goes full screen', async () => {
    const { folder, host } = await hostPage(books.http);
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    try {
      await page.goto(host.url);
      const frame = await bookIn(page, '#embedded');
      assert.notEqual(new URL(frame.url()).origin, new URL(host.url).origin, 'the frame is of another origin');
      // No frame-busting: the host stays where it is, and the book takes no focus from it.
      await page.waitForTimeout(300);
      assert.equal(page.url(), host.url);
      assert.equal(await page.evaluate(() => document.activeElement.tagName), 'BODY');
      assert.equal(await current(frame), '1');

      // A click into the book gives it the keyboard; the keys turn its pages, stay in the
      // frame and scroll nothing of the host.
      await frame.click('#vm-heading');
      const scrolled = await page.evaluate(() => window.scrollY);
      await page.keyboard.press('ArrowRight');
      await frame.waitForFunction(() => document.querySelector('#vm-app').dataset.current === '2,3', null, WAIT);
      await page.keyboard.press('End');
      await frame.waitForFunction(() => /9/.test(document.querySelector('#vm-app').dataset.current), null, WAIT);
      await page.keyboard.press('Home');
      await frame.waitForFunction(() => document.querySelector('#vm-app').dataset.current === '1', null, WAIT);
      assert.equal(await page.evaluate(() => window.scrollY), scrolled, 'the host page did not scroll');
      assert.equal(await page.evaluate(() => document.activeElement.id), 'embedded', 'the focus is in the frame');
      assert.ok(await frame.evaluate(() => document.hasFocus()), 'the book has the keyboard');
      assert.equal(page.url(), host.url, 'turning pages keeps the host page');

      // The frame allows full screen: the button is offered and shows the book alone.
      assert.ok(await frame.isVisible('#vm-full-btn'), 'full-screen button shown');
      await frame.click('#vm-full-btn');
      // The button's state follows the browser's fullscreenchange event, which comes a
      // moment after the element is full screen.
      await frame.waitForFunction(() => document.fullscreenElement === document.documentElement &&
        document.querySelector('#vm-full-btn').getAttribute('aria-pressed') === 'true', null, WAIT);
      await page.screenshot({ path: join(artifacts, 'embedded-full-screen.png') });
      await frame.click('#vm-full-btn');
      await frame.waitForFunction(() => !document.fullscreenElement, null, WAIT);

      // A frame that does not allow full screen gets no button that would do nothing.
      const plain = await bookIn(page, '#plain');
      assert.equal(await current(plain), '4,5');
      assert.equal(await plain.isVisible('#vm-full-btn'), false);
      await page.screenshot({ path: join(artifacts, 'embedded.png'), fullPage: true });
      assert.deepEqual(errors, [], 'no script errors');
    } finally {
      await page.close();
      await host.close();
      rmSync(folder, { recursive: true, force: true });
    }
  }]);

  tests.push(['a template without the link-preview tags still makes a book that reads', async () => {
    // A user-edited template from before the tags: the shipped one without its share line.
    const shipped = readFileSync(join(maker.booksFolder, 'booklet.asp'), 'utf8');
    assert.ok(shipped.includes('<%=share_tags%>'), 'the shipped template has the share line');
    writeFileSync(join(maker.booksFolder, 'own.asp'), shipped.replace(/^<%=share_tags%>\r?\n/m, ''));
    maker.setConfig('option', { template_html: 'own.asp' });
    let made;
    try {
      made = maker.convert(pdf, { title: TITLE });
    } finally {
      maker.setConfig('option', { template_html: 'booklet.asp' });
    }
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    try {
      await page.goto(server.url + relative(maker.booksFolder, made).split('\\').join('/'));
      await page.waitForSelector('#vm-app[data-ready]', WAIT);
      assert.equal(await page.title(), TITLE);
      assert.equal(await page.$$eval('meta[property^="og:"], meta[name="description"]', (m) => m.length), 0);
      const loaded = await page.$eval('.vm-slot .vm-page[data-page="1"] .vm-bg', (img) => img.complete && img.naturalWidth > 0);
      assert.ok(loaded, 'the cover shows');
      await page.keyboard.press('ArrowRight');
      await page.waitForFunction(() => document.querySelector('#vm-app').dataset.current === '2,3', null, WAIT);
      // The book made with the shipped template names its title for previews, as text.
      const shippedPage = await context.newPage();
      await shippedPage.goto(books.http);
      assert.equal(await shippedPage.$eval('meta[property="og:title"]', (m) => m.content), TITLE);
      assert.equal(await shippedPage.$$eval('meta[property="og:url"], link[rel="canonical"]', (m) => m.length), 0,
        'a book on this computer names no published address');
      await shippedPage.close();
      assert.deepEqual(errors, [], 'no script errors');
    } finally {
      await page.close();
    }
  }]);
  tests.push(['published: the offered PDF downloads whole, the preview picture is large and served, the embed code reads', async () => {
    if (!account) return console.log('  (skipped: vellumark-service is not built)');
    const offered = maker.publish(pdf, { ...account, title: TITLE, offerPdf: true });
    const key = offered.match(/[0-9A-F]{32}/)[0];
    const page = await context.newPage();
    const errors = [];
    page.on('pageerror', (e) => errors.push(e.message));
    const { folder, host } = await hostPage('about:blank');
    try {
      // The service's page admits only its own scripts: axe-core comes in with the policy
      // taken off this one page.
      await page.route((u) => u.href.endsWith(`/books/${key}/`), async (route) => {
        const response = await route.fetch();
        const headers = { ...response.headers() };
        delete headers['content-security-policy'];
        await route.fulfill({ response, headers });
      });
      const reading = new URL(`books/${key}/`, offered).href;
      await page.goto(reading);
      await page.waitForSelector('#vm-app[data-ready]', WAIT);
      assert.ok(await page.isVisible('#vm-download'), 'download button shown');
      assert.equal(await page.getAttribute('#vm-download', 'aria-label'), 'Download the PDF');
      await page.addScriptTag({ path: require.resolve('axe-core/axe.min.js') });
      const result = await page.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
      assert.deepEqual(result.violations.filter((v) => v.impact === 'serious' || v.impact === 'critical').map((v) => v.id), []);
      const [download] = await Promise.all([page.waitForEvent('download', WAIT), page.click('#vm-download')]);
      assert.ok(readFileSync(await download.path()).equals(readFileSync(pdf)), 'the PDF byte for byte');
      // The whole book prints from the PDF; a range still from the book's images.
      await page.click('#vm-print-btn');
      await page.check('input[name="vm-print-what"][value="all"]');
      const [whole] = await Promise.all([context.waitForEvent('page', WAIT), page.click('#vm-print-go')]);
      await whole.waitForLoadState('commit').catch(() => {});
      assert.equal(whole.url(), new URL('animals.pdf', reading).href);
      await whole.close();

      // Page 1 as the preview: an absolute address that serves a picture of the size named,
      // 1200 wide or, for this portrait page, as high as 1200 x 630 allows.
      const meta = (p) => page.$eval(`meta[property="${p}"]`, (m) => m.content);
      const [image, width, height] = [await meta('og:image'), +(await meta('og:image:width')), +(await meta('og:image:height'))];
      assert.ok(/^http:\/\/127\.0\.0\.1:\d+\//.test(image), image);
      assert.ok(width === 1200 || (height >= 628 && height <= 630 && width < 1200), `${width} x ${height}`);
      const served = await page.evaluate(async (src) => {
        const img = new Image();
        img.src = src;
        await img.decode();
        return [img.naturalWidth, img.naturalHeight];
      }, image);
      assert.deepEqual(served, [width, height]);

      // A book published without the offer has no button and no PDF beside it.
      const plain = await context.newPage();
      await plain.goto(books.service);
      await plain.waitForSelector('#vm-app[data-ready]', WAIT);
      assert.equal(await plain.$$eval('#vm-download', (e) => e.length), 0);
      const missing = await plain.evaluate(async () => (await fetch('animals.pdf')).status);
      assert.equal(missing, 404);
      await plain.close();

      // The embed code the batch command prints reads the book inside another site.
      const code = maker.embedCode(key);
      assert.match(code, /^service:\n<iframe src="[^"]+" title="Field notes: &lt;animals&gt; &amp; &quot;friends&quot;"/);
      writeFileSync(join(folder, 'index.html'), `<!DOCTYPE html><html lang="en"><head><title>Host</title></head><body>${code.split('\n')[1]}</body></html>`);
      await page.goto(host.url);
      const frame = await bookIn(page, 'iframe');
      assert.equal(await current(frame), '1');
      assert.deepEqual(errors, [], 'no script errors');
    } finally {
      await page.close();
      await host.close();
      rmSync(folder, { recursive: true, force: true });
    }
  }]);
  return tests;
}
