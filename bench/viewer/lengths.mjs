#!/usr/bin/env node
// Benchmark: does a book's length cost its first spread? Side by side in one run, a
// 1044-page document joined from the PDF manuals Debian installs under /usr/share/doc
// (each one whole, in path order, taken again from the first until 1044 pages are
// reached) and its first 30 pages, each made into a book with vellumark-batch, served by
// nginx (gzip for pages, scripts and styles) and opened in Chromium at 1366 x 800, ratio 1,
// on a 1.6 Mbit/s line with 150 ms latency (Chromium's network emulation):
//  - time from navigation start until the first spread is shown, bytes and requests
//    before it, and whether any search text came before it;
//  - search text fetched in the second after it (none, or only the shown pages' piece);
//  - a search for "manual" from the first spread on: time to the first hit and to all;
//  - each book's size and file count beside its PDF.
// "before" reads the same books as this branch's base made them: its viewer script (built
// from data/viewer/ at the base commit) and no layout or text pieces.
// Goals: the 1044-page book's first spread at most 1.2 times the 30-page one's and at most
// 1.0 s; at most 100 KB before the first spread for both.
// Usage:
//   node bench/viewer/lengths.mjs [program folder] [--work DIR] [--base COMMIT] [--runs N]
// --work keeps the documents and books there and reuses them on the next run. Results are
// printed and written to bench/results/viewer-lengths.json.
import { execFileSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join, relative } from 'node:path';
import { fileURLToPath } from 'node:url';
import { gunzipSync } from 'node:zlib';
import { BookMaker, missingPrograms } from '../../tests/viewer/lib/books.mjs';
import { launch } from '../../tests/viewer/lib/browser.mjs';
import { startNginx } from './nginx.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const repo = join(here, '..', '..');
const option = (name) => { const i = process.argv.indexOf(name); return i > 0 ? process.argv[i + 1] : null; };
const LONG = 1044, SHORT = 30;
const RUNS = Math.max(1, parseInt(option('--runs') || '5', 10) || 5);
const SLOW_LINK = { offline: false, latency: 150, downloadThroughput: 1.6e6 / 8, uploadThroughput: 1.6e6 / 8 };
const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };

function pageCount(pdf) {
  const out = execFileSync('mutool', ['show', pdf, 'trailer/Root/Pages/Count'], { encoding: 'utf8' });
  return parseInt(out.trim(), 10) || 0;
}

// The manuals, unpacked into `dir`: [{source, path, pages}].
function manuals(dir) {
  const found = [];
  const walk = (d) => {
    let entries = [];
    try { entries = readdirSync(d, { withFileTypes: true }); } catch { return; }
    for (const e of entries) {
      const p = join(d, e.name);
      if (e.isDirectory()) walk(p);
      else if (e.isFile() && /\.pdf(\.gz)?$/.test(e.name)) found.push(p);
    }
  };
  walk('/usr/share/doc');
  const out = [];
  found.sort().forEach((source, i) => {
    const path = join(dir, `manual-${i}.pdf`);
    writeFileSync(path, source.endsWith('.gz') ? gunzipSync(readFileSync(source)) : readFileSync(source));
    let pages = 0;
    try { pages = pageCount(path); } catch { /* not a PDF MuPDF reads */ }
    if (pages > 0) out.push({ source, path, pages });
  });
  return out;
}

function makeDocuments(dir) {
  const long = join(dir, `manuals-${LONG}.pdf`), short = join(dir, `manuals-${SHORT}.pdf`);
  const listFile = join(dir, 'manuals.json');
  if (existsSync(long) && existsSync(short) && existsSync(listFile)) return { long, short, used: JSON.parse(readFileSync(listFile, 'utf8')) };
  const found = manuals(dir);
  if (!found.length) throw new Error('no PDF manual under /usr/share/doc (valgrind, nettle-dev, gnucobol3, bzip2 ... install some)');
  const args = ['merge', '-o', long], used = [];
  for (let total = 0, i = 0; total < LONG; i++) {
    const m = found[i % found.length], take = Math.min(m.pages, LONG - total);
    args.push(m.path);
    if (take < m.pages) args.push(`1-${take}`);
    used.push({ manual: m.source, pages: take });
    total += take;
  }
  execFileSync('mutool', args);
  execFileSync('mutool', ['merge', '-o', short, long, `1-${SHORT}`]);
  writeFileSync(listFile, JSON.stringify(used, null, 2));
  return { long, short, used };
}

function makeBooks(work, programDir, docs) {
  const listFile = join(work, 'books.json');
  if (existsSync(listFile)) return JSON.parse(readFileSync(listFile, 'utf8'));
  const missing = missingPrograms(programDir);
  if (missing.length) throw new Error(`${missing.join(' and ')} missing in ${programDir}`);
  const maker = new BookMaker(programDir, join(work, 'home'));
  const books = {};
  for (const [name, pdf] of [['long', docs.long], ['short', docs.short]]) {
    const t0 = Date.now();
    books[name] = { page: maker.convert(pdf, { title: `Debian manuals, ${name === 'long' ? LONG : SHORT} pages`, timeoutMs: 3 * 3600000 }),
      pdf, seconds: (Date.now() - t0) / 1000 };
  }
  books.folder = maker.booksFolder;
  writeFileSync(listFile, JSON.stringify(books, null, 2));
  return books;
}

// The viewer script as the base commit built it.
function baseViewer(commit, out) {
  const cmake = readFileSync(join(repo, 'data', 'CMakeLists.txt'), 'utf8');
  const show = (path) => execFileSync('git', ['-C', repo, 'show', `${commit}:${path}`], { encoding: 'utf8', maxBuffer: 1 << 26 });
  const list = /set\(viewer_parts\s+([^)]*)\)/.exec(show('data/CMakeLists.txt') || cmake)[1].split(/\s+/).filter(Boolean);
  const joined = '(function () {\n\'use strict\';\n' + list.map((f) => show(`data/viewer/${f}`)).join('\n') + '\n})();\n';
  writeFileSync(`${out}.src.js`, joined);
  execFileSync('esbuild', [`${out}.src.js`, '--minify', '--target=es2020', '--log-level=warning', `--outfile=${out}`]);
}

// The books folder as the base commit made it, beside the real one: the same images (hard
// links), no pieces, the page's hint for the whole layout file and the base's viewer.
function beforeFolder(books, commit) {
  const before = `${books.folder}-before`;
  if (existsSync(before)) return before;
  execFileSync('cp', ['-al', books.folder, before]);
  for (const b of [books.long, books.short]) {
    const dir = join(before, relative(books.folder, dirname(b.page)));
    for (const f of readdirSync(dir)) if (/^(layout|txt)-(\d+|outline)\.js$/.test(f)) rmSync(join(dir, f));
    const page = join(dir, 'index.html'), html = readFileSync(page, 'utf8');
    rmSync(page);
    writeFileSync(page, html.replace('layout-1.js"', 'layout.js"').replace(/ data-layout-pieces="\d+"/, ''));
  }
  rmSync(join(before, 'index.js'));
  baseViewer(commit, join(before, 'index.js'));
  return before;
}

// A new page on the slow line without a cache, at `url`, once its first spread has shown.
async function openOnSlowLink(context, url) {
  const page = await context.newPage();
  const cdp = await context.newCDPSession(page);
  await cdp.send('Network.enable');
  await cdp.send('Network.setCacheDisabled', { cacheDisabled: true });
  await cdp.send('Network.emulateNetworkConditions', SLOW_LINK);
  await page.goto(url);
  await page.waitForFunction(() => performance.getEntriesByName('vm-first-spread').length > 0, null, { timeout: 60000 });
  return page;
}

async function firstSpread(context, url) {
  const page = await openOnSlowLink(context, url);
  await page.waitForTimeout(1000);
  const seen = await page.evaluate(() => {
    const mark = performance.getEntriesByName('vm-first-spread')[0].startTime;
    const nav = performance.getEntriesByType('navigation')[0];
    const all = performance.getEntriesByType('resource');
    const before = all.filter((e) => e.startTime <= mark);
    const name = (e) => new URL(e.name).pathname.split('/').pop();
    return {
      ms: mark,
      requests: 1 + before.length,
      bytes: (nav ? nav.transferSize : 0) + before.filter((e) => e.responseEnd <= mark).reduce((sum, e) => sum + e.transferSize, 0),
      textBefore: before.filter((e) => /^txt/.test(name(e))).map(name),
      textAfter: all.filter((e) => e.startTime > mark && /^txt/.test(name(e))).map((e) => `${name(e)} ${e.transferSize}`),
    };
  });
  await page.close();
  return seen;
}

// A search for `word` from the first spread on: time until the first hit is listed and
// until the list is complete, and the hits.
async function searchTimes(context, url, word) {
  const page = await openOnSlowLink(context, url);
  await page.click('#vm-search-btn');
  await page.fill('#vm-search-box', word);
  const t0 = Date.now();
  await page.press('#vm-search-box', 'Enter');
  await page.waitForSelector('.vm-result', { timeout: 120000 });
  const first = Date.now() - t0;
  // The status names the count without the loading sign once every page is searched.
  await page.waitForFunction(() => /\d$/.test(document.querySelector('#vm-search-status').textContent.trim()), null, { timeout: 120000 });
  const all = Date.now() - t0;
  const hits = await page.$$eval('.vm-result', (r) => r.length);
  await page.close();
  return { firstHitMs: first, allHitsMs: all, hits };
}

function folderStats(path) {
  let bytes = 0, files = 0;
  const walk = (p) => {
    const s = statSync(p);
    if (s.isDirectory()) readdirSync(p).forEach((n) => walk(join(p, n)));
    else { bytes += s.size; files++; }
  };
  walk(path);
  return { bytes, files };
}

const keep = option('--work');
const work = keep || mkdtempSync(join(tmpdir(), 'vellumark-lengths-'));
mkdirSync(work, { recursive: true });
const programDir = (process.argv[2] && !process.argv[2].startsWith('--') ? process.argv[2] : null) ||
  process.env.VELLUMARK_PROGRAM_DIR || join(repo, 'build', 'bin');
const base = option('--base') || execFileSync('git', ['-C', repo, 'merge-base', 'HEAD', 'main'], { encoding: 'utf8' }).trim();
let browser = null, server = null;
try {
  const docs = makeDocuments(work);
  const books = makeBooks(work, programDir, docs);
  const before = beforeFolder(books, base);
  const root = dirname(books.folder);
  server = await startNginx(root, mkdtempSync(join(tmpdir(), 'vellumark-lengths-nginx-')));
  browser = await launch({ viewport: { width: 1366, height: 800 }, deviceScaleFactor: 1 });
  const result = { documents: docs.used, line: '1.6 Mbit/s, 150 ms', screen: '1366x800 ratio 1', runs: RUNS, base, books: {} };
  for (const which of ['long', 'short']) {
    const b = books[which], pdfBytes = statSync(b.pdf).size, size = folderStats(dirname(b.page));
    result.books[which] = { pages: which === 'long' ? LONG : SHORT, pdfBytes, bookBytes: size.bytes, bookFiles: size.files,
      timesThePdf: +(size.bytes / pdfBytes).toFixed(1), conversionSeconds: b.seconds };
    for (const [variant, folder] of [['before', before], ['after', books.folder]]) {
      const url = `${server.url}${relative(root, folder)}/${relative(books.folder, b.page)}`;
      const runs = [];
      for (let r = 0; r < RUNS; r++) runs.push(await firstSpread(browser.context, url));
      result.books[which][variant] = {
        firstSpreadMs: Math.round(median(runs.map((x) => x.ms))), runsMs: runs.map((x) => Math.round(x.ms)),
        bytesBeforeFirstSpread: median(runs.map((x) => x.bytes)), requestsBeforeFirstSpread: median(runs.map((x) => x.requests)),
        searchTextBeforeFirstSpread: runs[runs.length - 1].textBefore, searchTextInTheSecondAfter: runs[runs.length - 1].textAfter,
        search: await searchTimes(browser.context, url, 'manual'),
      };
    }
  }
  for (const variant of ['before', 'after']) {
    const l = result.books.long[variant], s = result.books.short[variant];
    result[variant] = {
      longOverShort: +(l.firstSpreadMs / s.firstSpreadMs).toFixed(2),
      goals: {
        'long at most 1.2 times short': l.firstSpreadMs <= 1.2 * s.firstSpreadMs,
        'long at most 1.0 s': l.firstSpreadMs <= 1000,
        'at most 100 KB before the first spread': l.bytesBeforeFirstSpread <= 102400 && s.bytesBeforeFirstSpread <= 102400,
        'no search text before the first spread': !l.searchTextBeforeFirstSpread.length && !s.searchTextBeforeFirstSpread.length,
      },
    };
  }
  const outDir = join(repo, 'bench', 'results');
  mkdirSync(outDir, { recursive: true });
  writeFileSync(join(outDir, 'viewer-lengths.json'), JSON.stringify(result, null, 2));
  console.log(JSON.stringify(result, null, 2));
} finally {
  if (browser) await browser.close();
  if (server) await server.close();
  if (!keep) rmSync(work, { recursive: true, force: true });
}
