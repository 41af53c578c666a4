#!/usr/bin/env node
// Benchmark of the book viewer on a 200-page book served from 127.0.0.1:
//  - on a slow link (Chromium's network emulation: 1.6 Mbit/s, 150 ms latency), the time
//    from navigation start until the first spread is decoded and shown, with the bytes and
//    requests before it, on a desktop (1366 x 800, 1 device pixel per CSS pixel, goal
//    <= 1.0 s) and on a phone (390 x 844, ratio 3, with the sharper images, goal <= 1.2 s),
//  - the requests made before the first turn (goal: the first spread, its neighbours and
//    the shared files only),
//  - frame rate of a page turn, from Chromium's trace of the compositor (goal >= 50 fps),
//  - the size of the book's layout.js (and of its first piece) beside its LowRes images.
// bench/viewer/lengths.mjs compares a long book with a short one on the slow link.
// Usage:
//   node bench/viewer/bench.mjs [program folder]   makes the book with vellumark-batch
//   node bench/viewer/bench.mjs --book PATH         measures an existing book's index.html
//   --pages N                                       pages of the book made (default 200)
// Results are printed and written to bench/results/viewer.json.
import { existsSync, mkdirSync, mkdtempSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, relative, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { BookMaker, missingPrograms } from '../../tests/viewer/lib/books.mjs';
import { launch } from '../../tests/viewer/lib/browser.mjs';
import { pageLines, writePdf } from '../../tests/viewer/lib/pdf.mjs';
import { startServer } from '../../tests/viewer/lib/server.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const option = (name) => { const i = process.argv.indexOf(name); return i > 0 ? process.argv[i + 1] : null; };
const PAGES = Math.max(2, parseInt(option('--pages') || '200', 10) || 200);
const RUNS = 7;
// The slow link: 1.6 Mbit/s each way, 150 ms round trip.
const SLOW_LINK = { offline: false, latency: 150, downloadThroughput: 1.6e6 / 8, uploadThroughput: 1.6e6 / 8 };
const PROFILES = [
  { name: 'desktop', viewport: { width: 1366, height: 800 }, deviceScaleFactor: 1, goalMs: 1000 },
  { name: 'phone', viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, hasTouch: true, goalMs: 1200 },
];
const TURNS = 6;

const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };

async function makeBook(work) {
  const i = process.argv.indexOf('--book');
  if (i > 0) return { page: resolve(process.argv[i + 1]), made: null, resumes: 0 };
  const programDir = (process.argv[2] && !process.argv[2].startsWith('--') ? process.argv[2] : null) ||
    process.env.VELLUMARK_PROGRAM_DIR;
  if (!programDir) throw new Error('pass the program folder (build-*/bin) or --book PATH');
  const missing = missingPrograms(programDir);
  if (missing.length) throw new Error(`${missing.join(' and ')} missing in ${programDir}`);
  const pdf = join(work, 'bench.pdf');
  writePdf(pdf, Array.from({ length: PAGES }, (_, n) => pageLines(n + 1)), { title: 'Viewer benchmark' });
  const maker = new BookMaker(programDir, join(work, 'home'));
  const t0 = Date.now();
  let page = null;
  let resumes = 0;
  try {
    page = maker.convert(pdf, { timeoutMs: 3600000 });
  } catch (e) {
    // A job that ended early can be resumed where it stopped, as a user would.
    const key = /--resume ([0-9A-F]{32})/.exec(String(e.message));
    if (!key) throw e;
    console.error(`conversion ended early, resuming: ${String(e.message).split('\n').filter((l) => l.startsWith('ERR')).join(' | ')}`);
    for (; !page && resumes < 3; resumes++) {
      try { page = maker.resume(key[1]); } catch (again) { if (resumes === 2) throw again; }
    }
  }
  return { page, made: (Date.now() - t0) / 1000, resumes };
}

// Reads a trace that Chromium returns as a stream.
async function readTrace(cdp, stream) {
  let data = '';
  for (;;) {
    const chunk = await cdp.send('IO.read', { handle: stream, size: 1 << 20 });
    data += chunk.base64Encoded ? Buffer.from(chunk.data, 'base64').toString() : chunk.data;
    if (chunk.eof) break;
  }
  await cdp.send('IO.close', { handle: stream });
  const parsed = JSON.parse(data);
  return Array.isArray(parsed) ? parsed : parsed.traceEvents;
}

async function firstSpread(context, url, server, link = null) {
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  await cdp.send('Network.enable');
  await cdp.send('Network.setCacheDisabled', { cacheDisabled: true });
  if (link) await cdp.send('Network.emulateNetworkConditions', link);
  const from = server.log.length;
  await page.goto(url);
  await page.waitForSelector('#vm-app[data-ready]', { timeout: 30000 });
  // The spread is on screen once the frame after the mark has been presented. What came
  // in before the mark is read from the page's resource timing: requests started before
  // it, and the bytes of the responses complete by then (the page itself included).
  const seen = await page.evaluate(() => new Promise((ok) => requestAnimationFrame(() => requestAnimationFrame(async () => {
    const mark = performance.getEntriesByName('vm-first-spread')[0].startTime;
    const nav = performance.getEntriesByType('navigation')[0];
    const before = performance.getEntriesByType('resource').filter((e) => e.startTime <= mark);
    // An image chosen from a list of sets reports its size divided by its density: the
    // pixels are counted on a plain copy of the file (already in the cache).
    const shown = await Promise.all([...document.querySelectorAll('#vm-book .vm-page:not(.vm-blank) img.vm-bg')].map(async (img) => {
      const copy = new Image();
      copy.src = img.currentSrc || img.src;
      await copy.decode().catch(() => {});
      return {
        src: new URL(copy.src).pathname.split('/').slice(-2).join('/'),
        pixelsPerDevicePixel: copy.naturalHeight / (img.getBoundingClientRect().height * devicePixelRatio),
      };
    }));
    ok({
      ms: mark,
      requests: 1 + before.length,
      bytes: (nav ? nav.transferSize : 0) + before.filter((e) => e.responseEnd <= mark).reduce((sum, e) => sum + e.transferSize, 0),
      names: before.map((e) => new URL(e.name).pathname.split('/').slice(-2).join('/')),
      shown,
    });
  }))));
  await page.waitForTimeout(400); // let idle-time fetches (page text, neighbours) happen before the first turn
  const requests = server.log.slice(from).map((r) => r.path);
  return { page, cdp, ms: seen.ms, seen, requests };
}

// First spread on the slow link, for one screen.
async function slowLinkProfile(profile, url, server) {
  const browser = await launch({ viewport: profile.viewport, deviceScaleFactor: profile.deviceScaleFactor, hasTouch: !!profile.hasTouch });
  try {
    const runs = [];
    for (let r = 0; r < RUNS; r++) {
      const run = await firstSpread(browser.context, url, server, SLOW_LINK);
      runs.push(run.seen);
      await run.page.close();
    }
    const last = runs[runs.length - 1];
    return {
      screen: `${profile.viewport.width}x${profile.viewport.height} ratio ${profile.deviceScaleFactor}`,
      firstSpreadMs: { median: Math.round(median(runs.map((x) => x.ms))), runs: runs.map((x) => Math.round(x.ms)), goal: `<= ${profile.goalMs}` },
      bytesBeforeFirstSpread: median(runs.map((x) => x.bytes)),
      requestsBeforeFirstSpread: median(runs.map((x) => x.requests)),
      requested: last.names,
      shownImages: last.shown.map((s) => ({ src: s.src, pixelsPerDevicePixel: +s.pixelsPerDevicePixel.toFixed(2) })),
    };
  } finally {
    await browser.close();
  }
}

async function turnFrameRate(page, cdp) {
  const rates = [];
  for (let i = 0; i < TURNS; i++) {
    await page.waitForTimeout(300);
    await cdp.send('Tracing.start', {
      categories: 'devtools.timeline,disabled-by-default-devtools.timeline.frame,benchmark',
      transferMode: 'ReturnAsStream',
    });
    // The turn is started in the page, and the start and end of the leaf's movement are
    // stamped into the trace, so that only the frames drawn while it turns are counted.
    const timing = await page.evaluate(() => new Promise((done) => {
      const t0 = performance.now();
      let started = 0;
      document.querySelector('#vm-next').click();
      const find = () => {
        const leaf = document.getAnimations().find((a) => a.effect && a.effect.target.classList.contains('vm-leaf'));
        if (!leaf) { requestAnimationFrame(find); return; }
        leaf.ready.then(() => { started = performance.now(); console.timeStamp('vm-turn-start'); });
        leaf.finished.then(() => { console.timeStamp('vm-turn-end'); done({ startMs: started - t0, turnMs: performance.now() - started }); });
      };
      find();
    }));
    await page.waitForFunction(() => !document.querySelector('#vm-app').classList.contains('vm-turning'), null, { timeout: 5000 });
    await page.waitForTimeout(100);
    const done = new Promise((ok) => cdp.once('Tracing.tracingComplete', ok));
    await cdp.send('Tracing.end');
    const { stream } = await done;
    const events = await readTrace(cdp, stream);
    const stamp = (name) => events.find((e) => e.name === 'TimeStamp' && e.args && e.args.data && e.args.data.message === name);
    const start = stamp('vm-turn-start'), end = stamp('vm-turn-end');
    if (!start || !end) throw new Error('the trace holds no turn stamps');
    // Frames the compositor drew while the leaf turned.
    const frames = events.filter((e) => e.name === 'DrawFrame' && e.ts >= start.ts && e.ts <= end.ts).map((e) => e.ts).sort((a, b) => a - b);
    const seconds = (end.ts - start.ts) / 1e6;
    const gaps = frames.slice(1).map((t, k) => (t - frames[k]) / 1000);
    rates.push({ frames: frames.length, seconds, fps: frames.length / seconds, longestGapMs: gaps.length ? Math.max(...gaps) : null,
      clickToStartMs: timing.startMs, turnMs: timing.turnMs });
  }
  return rates;
}

function classify(paths, bookDir) {
  const out = { page: [], shared: [], spread: [], neighbours: [], text: [], other: [] };
  for (const p of paths) {
    const inBook = p.startsWith(`/${bookDir}/`) ? p.slice(bookDir.length + 2) : null;
    const m = inBook && /^(LowRes|MedRes|HighRes)\/img-(\d+)(-f\.png|\.jpg)$/.exec(inBook);
    if (inBook === 'index.html') out.page.push(p);
    else if (m) (+m[2] === 1 ? out.spread : [2, 3].includes(+m[2]) ? out.neighbours : out.other).push(p);
    else if (/^(txt|layout)(-(\d+|outline))?\.js$/.test(inBook)) out.text.push(p);
    else if (!inBook) out.shared.push(p);
    else out.other.push(p);
  }
  return out;
}

// Bytes of a file, or of all files of a folder.
function bytes(path) {
  if (!existsSync(path)) return 0;
  if (!statSync(path).isDirectory()) return statSync(path).size;
  return readdirSync(path).reduce((sum, name) => sum + bytes(join(path, name)), 0);
}

const work = mkdtempSync(join(tmpdir(), 'vellumark-viewer-bench-'));
let browser = null, server = null;
try {
  const { page: bookPage, made, resumes } = await makeBook(work);
  const books = dirname(dirname(bookPage));
  const bookDir = relative(books, dirname(bookPage));
  server = await startServer(books);
  const url = `${server.url}${bookDir}/index.html`;
  const slowLink = {};
  for (const profile of PROFILES) slowLink[profile.name] = await slowLinkProfile(profile, url, server);

  browser = await launch({ viewport: { width: 1366, height: 800 } });
  const times = [];
  let requests = null, rates = null;
  for (let r = 0; r < RUNS; r++) {
    const run = await firstSpread(browser.context, url, server);
    times.push(run.ms);
    if (r === 0) { requests = run.requests; rates = await turnFrameRate(run.page, run.cdp); }
    await run.page.close();
  }
  const kinds = classify(requests, bookDir);
  const fps = rates.filter((x) => x && x.fps).map((x) => x.fps);
  const result = {
    book: { pages: PAGES, conversionSeconds: made, resumedAfterEarlyEnd: resumes },
    slowLink: { link: '1.6 Mbit/s, 150 ms', ...slowLink },
    firstSpreadMs: { median: median(times), runs: times.map((t) => Math.round(t)), goal: '< 1000' },
    requestsBeforeFirstTurn: {
      total: requests.length, page: kinds.page.length, shared: kinds.shared, firstSpread: kinds.spread.length,
      neighbours: kinds.neighbours.length, pageText: kinds.text.length, other: kinds.other,
      goal: 'first spread, its neighbours and the shared files only',
    },
    turnFrameRate: { medianFps: fps.length ? median(fps) : 0, turns: rates, goal: '>= 50' },
    // The page layout file (word boxes, links) beside the smallest page images.
    layoutFile: { layoutJsBytes: bytes(join(dirname(bookPage), 'layout.js')),
      firstPieceBytes: bytes(join(dirname(bookPage), 'layout-1.js')),
      lowResBytes: bytes(join(dirname(bookPage), 'LowRes')) },
  };
  const outDir = join(here, '..', 'results');
  mkdirSync(outDir, { recursive: true });
  writeFileSync(join(outDir, 'viewer.json'), JSON.stringify(result, null, 2));
  console.log(JSON.stringify(result, null, 2));
} finally {
  if (browser) await browser.close();
  if (server) await server.close();
  rmSync(work, { recursive: true, force: true });
}
