#!/usr/bin/env node
// Browser tests of the book viewer. Makes books from a PDF with vellumark-batch (the real
// engine and page generator), then reads them in headless Chromium from a file:// address,
// from a web server on 127.0.0.1 and as an exported copy.
//   node tests/viewer/run.mjs [program folder] [--suites NAME,...]
// The program folder defaults to $VELLUMARK_PROGRAM_DIR. --suites runs only those suites
// (shared, viewer, reader, reading, phone, embed, sharpness; all without it), each run with books
// of its own, so that CTest runs the suites side by side.
// Exit status: 0 all passed, 1 a test failed, 77 skipped (the programs are not built).
import assert from 'node:assert/strict';
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, relative } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { BookMaker, missingPrograms } from './lib/books.mjs';
import { launch } from './lib/browser.mjs';
import { lineSize, lineY, pageLines, pageWord, writePdf } from './lib/pdf.mjs';
import { haveService, startService } from './lib/service.mjs';
import { startServer } from './lib/server.mjs';
import { checkSharedFiles } from './shared-files.mjs';
import { embedTests } from './embed-tests.mjs';
import { phoneTests } from './phone-tests.mjs';
import { readerTests } from './reader-tests.mjs';
import { readingTests } from './reading-tests.mjs';
import { sharpnessTests } from './sharpness-tests.mjs';
import { viewerTests } from './viewer-tests.mjs';

const here = dirname(fileURLToPath(import.meta.url));
const SKIP = 77;
const programDir = (process.argv[2] !== '--suites' && process.argv[2]) || process.env.VELLUMARK_PROGRAM_DIR;
const suitesAt = process.argv.indexOf('--suites');
const suites = suitesAt > 0 ? (process.argv[suitesAt + 1] || '').split(',') : null;
const wanted = (suite) => !suites || suites.includes(suite);
const uploadDir = join(here, '..', '..', 'data', 'DefaultCfg', 'Upload');

const results = [];
// VELLUMARK_VIEWER_ONLY=<regular expression> runs only the tests whose names match.
const only = process.env.VELLUMARK_VIEWER_ONLY ? new RegExp(process.env.VELLUMARK_VIEWER_ONLY) : null;
async function run(name, fn) {
  if (only && !only.test(name)) return;
  const t0 = Date.now();
  try {
    await fn();
    results.push({ name, ok: true });
    console.log(`ok   ${name} (${Date.now() - t0} ms)`);
  } catch (e) {
    results.push({ name, ok: false });
    console.log(`FAIL ${name}: ${e && e.stack ? e.stack : e}`);
  }
}

// The shipped files are checked first: they need no build.
const builtUploadDir = join(programDir || '.', 'DefaultCfg', 'Upload');
if (wanted('shared')) {
  for (const [name, fn] of checkSharedFiles(uploadDir, builtUploadDir)) await run(`shared files: ${name}`, fn);
}
if (suites && suites.every((suite) => suite === 'shared')) process.exit(results.every((r) => r.ok) ? 0 : 1);

if (!programDir) {
  console.error('No program folder: pass it as argument or set VELLUMARK_PROGRAM_DIR.');
  process.exit(2);
}
const missing = missingPrograms(programDir);
if (missing.length) {
  console.log(`SKIP browser tests: ${missing.join(' and ')} not built in ${programDir}; ` +
    'they need a book made by vellumark-batch and the engine.');
  process.exit(results.every((r) => r.ok) ? SKIP : 1);
}

const artifacts = join(here, 'artifacts');
mkdirSync(artifacts, { recursive: true });
const work = mkdtempSync(join(tmpdir(), 'vellumark-viewer-'));
let browser = null, server = null, service = null;
try {
  const PAGES = 9;
  const TITLE = 'Field notes: <animals> & "friends"';
  const pdf = join(work, 'animals.pdf');
  // Page 1 links its second line to page 5 and its third to a web address; the outline
  // groups the chapters in two parts.
  const LINKS = { internal: { rect: [70, lineY(1) - 4, 200, lineSize(1) + 6], page: 5 },
    external: { rect: [70, lineY(2) - 4, 200, lineSize(2) + 6], uri: 'https://example.org/vellumark?a=1' } };
  const OUTLINE = [{ title: 'First part', page: 1, level: 1 },
    ...Array.from({ length: 5 }, (_, i) => ({ title: `Chapter ${i + 1}`, page: i + 1, level: 2 })),
    { title: 'Second part', page: 6, level: 1 },
    ...Array.from({ length: 4 }, (_, i) => ({ title: `Chapter ${i + 6}`, page: i + 6, level: 2 }))];
  writePdf(pdf, Array.from({ length: PAGES }, (_, i) => pageLines(i + 1)), {
    title: TITLE, outline: OUTLINE, links: (n) => (n === 1 ? [LINKS.internal, LINKS.external] : []),
  });
  // A right-to-left book whose first two pages are numbered in roman numerals; its second
  // page has Arabic ("hello world 2024") and Hebrew ("hello PDF world") lines, in reading order.
  const RTL_WORDS = { arabic: ['\u0645\u0631\u062d\u0628\u0627', '\u0628\u0627\u0644\u0639\u0627\u0644\u0645', '2024'],
    hebrew: ['\u05e9\u05dc\u05d5\u05dd', 'PDF', '\u05e2\u05d5\u05dc\u05dd'] };
  const RTL_PAGE = ['Chapter 2', { rtl: RTL_WORDS.arabic }, { rtl: RTL_WORDS.hebrew }, 'The end of the page.'];
  const rtlPdf = join(work, 'rtl.pdf');
  writePdf(rtlPdf, Array.from({ length: 6 }, (_, i) => (i === 1 ? RTL_PAGE : pageLines(i + 1))), {
    title: 'Right to left', pageLabels: '0 << /S /r >> 2 << /S /D >>', direction: 'R2L',
  });

  const maker = new BookMaker(programDir, join(work, 'home'));
  const exportDir = join(work, 'export');
  mkdirSync(exportDir);
  const english = maker.convert(pdf, { exportDir, title: TITLE });
  // A book whose home link is a publisher's logo (a wide picture) leading to its site.
  const LOGO = { image: 'https://example.org/press-logo.svg', site: 'https://example.org/press' };
  maker.setSkin({ skin_useownlogo: 1, skin_logourl: LOGO.site, skin_logotxt: `<img src='${LOGO.image}' alt='Example Press'>` });
  const logoBook = maker.convert(pdf, { title: TITLE });
  // A second book with the French toolbar and the e-mail and note buttons switched on.
  maker.setSkin({ skin_useownlogo: 0, lang_filename: 'fr.asp', skin_lang: 'Français', skin_usemail: 1, skin_usenote: 1 });
  const french = maker.convert(pdf, { title: TITLE });
  const rtl = maker.convert(rtlPdf, { title: 'Right to left' });
  // A book of three layout and text pieces (32 pages each, the last one shorter).
  const LONG_PAGES = 72;
  let longBook = null;
  if (wanted('reading')) {
    const longPdf = join(work, 'long.pdf');
    writePdf(longPdf, Array.from({ length: LONG_PAGES }, (_, i) => pageLines(i + 1)), { title: 'A longer book' });
    longBook = maker.convert(longPdf, { title: 'A longer book' });
  }

  if (wanted('viewer')) await run('the configuration refresh puts the shared files into the books folder', () => {
    for (const f of ['index.js', 'print.html', 'booklet.asp', 'bar2.asp', 'service.asp', 'RurovOzeza.v1.css',
      'skins/2/skin.js', 'skins/2/site_styles.css', 'lang/lang.xml', 'lang/fr.asp']) {
      const shipped = join(programDir, 'DefaultCfg', 'Upload', f);
      assert.ok(readFileSync(join(maker.booksFolder, f)).equals(readFileSync(shipped)), `${f} as shipped`);
    }
  });
  if (wanted('viewer')) await run('the exported page refers to its shared files with " ./"', () => {
    const page = readFileSync(join(exportDir, 'index.html'), 'utf8');
    assert.ok(!page.includes('../'), 'no reference one level up is left');
    for (const ref of ['" ./index.js"', '" ./RurovOzeza.v1.css"', '" ./skins/2/site_styles.css"', '" ./print.html"']) {
      assert.ok(page.includes(ref), ref);
    }
  });

  // The same book published to our own publishing service, read where the service serves it.
  let published = null, account = null;
  if (haveService(programDir)) {
    service = await startService(programDir, join(work, 'service'));
    account = { host: service.host, email: 'reader@example.org', password: 'open-sesame' };
    await service.createAccount(account.email, account.password);
    published = maker.publish(pdf, { ...account, title: TITLE });
  }

  server = await startServer(maker.booksFolder);
  const httpUrl = (file) => server.url + relative(maker.booksFolder, file).split('\\').join('/');
  browser = await launch();
  const env = {
    context: browser.context, artifacts, pages: PAGES, title: TITLE, pageWord, server,
    books: {
      file: pathToFileURL(english).href,
      http: httpUrl(english),
      export: pathToFileURL(join(exportDir, 'index.html')).href,
      french: httpUrl(french),
      frenchFile: pathToFileURL(french).href,
      logo: httpUrl(logoBook),
      service: published,
    },
  };
  const readerEnv = { ...env, links: LINKS, outline: OUTLINE, rtlBook: httpUrl(rtl), rtlWords: RTL_WORDS, bookPage: english, work };
  const suiteTests = {
    viewer: () => viewerTests(env),
    reader: () => readerTests(readerEnv),
    reading: () => readingTests({ ...env, longBook: longBook && httpUrl(longBook), longPages: LONG_PAGES }),
    phone: () => phoneTests({ ...env, logo: LOGO }),
    embed: () => embedTests({ ...env, maker, pdf, work, account }),
    sharpness: () => sharpnessTests(env),
  };
  for (const [suite, tests] of Object.entries(suiteTests)) {
    if (!wanted(suite)) continue;
    for (const [name, fn] of tests()) await run(name, fn);
  }
} catch (e) {
  results.push({ name: 'setup', ok: false });
  console.log(`FAIL setup: ${e && e.stack ? e.stack : e}`);
} finally {
  if (browser) await browser.close();
  if (server) await server.close();
  if (service) service.close();
  rmSync(work, { recursive: true, force: true });
}

const failed = results.filter((r) => !r.ok);
console.log(`${results.length - failed.length} passed, ${failed.length} failed; screenshots in ${artifacts}`);
process.exit(failed.length ? 1 : 0);
