// Checks of the shipped book files that need no browser: what the desktop program and the
// page generator read from them, and that the language fragments are complete.
import assert from 'node:assert/strict';
import { existsSync, readFileSync, readdirSync } from 'node:fs';
import { join } from 'node:path';

function versionOf(text) {
  const at = text.indexOf('corvane_version="');
  if (at < 0) return -1;
  return parseInt(text.slice(at + 17, text.indexOf('"', at + 17)), 10);
}

// The toolbar language list read as the toolbar dialog reads it: plain text, entries
// from each description=" marker.
export function scanLanguageList(text) {
  const out = [];
  let at = 0;
  for (;;) {
    const m = text.indexOf('description="', at);
    if (m < 0) break;
    let p = m + 13;
    while (text[p] === ' ') p++;
    const q = text.indexOf('"', p);
    const name = text.slice(p, q);
    let f = text.indexOf('>', q) + 1;
    while (text[f] === ' ') f++;
    let e = f;
    while (e < text.length && text[e] !== ' ' && text[e] !== '<') e++;
    out.push({ name, file: text.slice(f, e) });
    at = e;
  }
  return out;
}

// The skin file list read as the publisher reads it: each text between a quote and the
// next "'," (blanks after the opening quote skipped), and the last quoted text.
export function scanSkinList(text) {
  const items = [];
  let at = 0;
  for (;;) {
    const open = text.indexOf("'", at);
    if (open < 0) break;
    const close = text.indexOf("'", open + 1);
    if (close < 0) break;
    if (text[close + 1] === ',') items.push(text.slice(open + 1, close).replace(/^ +/, ''));
    at = close + 1;
  }
  const last = text.lastIndexOf("'");
  const before = text.lastIndexOf("'", last - 1);
  return { items, last: text.slice(before + 1, last) };
}

// Names and values of the g_ assignments of a language fragment.
function fragmentTexts(text) {
  const out = new Map();
  for (const m of text.matchAll(/^(g_[A-Z][A-Za-z0-9_]*)="([^"\r\n]*)"\r?$/gm)) out.set(m[1], m[2]);
  return out;
}

// upload: the shipped Upload folder of the source; built: the one the build assembled in
// the program folder, which alone holds the viewer script index.js (made from its source).
export function checkSharedFiles(upload, built) {
  const where = (name) => join(name === 'index.js' ? built : upload, name);
  const read = (name) => readFileSync(where(name), 'utf8');
  return [
    ['book files are all there', () => {
      for (const f of ['booklet.asp', 'bar2.asp', 'index.js', 'service.asp', 'print.html', 'RurovOzeza.v1.css',
        'skins/2/skin.js', 'skins/2/site_styles.css', 'lang/lang.xml']) assert.ok(existsSync(where(f)), f);
    }],
    ['page template: version, document type, includes, closed tags', () => {
      const t = read('booklet.asp');
      assert.ok(versionOf(t) >= 1, 'version marker');
      const doctype = t.indexOf('<!D');
      assert.ok(doctype > t.indexOf('corvane_version'), 'the marker stands before the document type, so pages do not carry it');
      const includes = [...t.slice(doctype).matchAll(/<!--#include file="([^"']+)"-->\n/g)].map((m) => m[1]);
      assert.deepEqual(includes, ['lang/en.asp', 'bar2.asp']);
      for (const f of ['booklet.asp', 'bar2.asp']) {
        const body = read(f);
        const opens = (body.match(/<%/g) || []).length, closes = (body.match(/%>/g) || []).length;
        assert.equal(opens, closes, `${f}: every tag is closed`);
        // An assignment must have no blank before "=", or it sets nothing.
        assert.ok(!/^(<%)?\s*[A-Za-z_]+ +=/m.test(body), `${f}: no blank before = in an assignment`);
      }
    }],
    ['language list names five fragments, each complete', () => {
      const list = read('lang/lang.xml');
      assert.ok(versionOf(list) >= 1, 'version marker');
      const entries = scanLanguageList(list);
      assert.deepEqual(entries.map((e) => e.file), ['en.asp', 'fr.asp', 'cn.asp', 'de.asp', 'es.asp']);
      assert.ok(entries.every((e) => e.name.length > 0));
      const used = new Set([...(read('booklet.asp') + read('bar2.asp')).matchAll(/<%=(g_[A-Z][A-Za-z0-9_]*)/g)].map((m) => m[1]));
      const english = fragmentTexts(read('lang/en.asp'));
      for (const { file } of entries) {
        const texts = fragmentTexts(read(join('lang', file)));
        assert.deepEqual([...texts.keys()].sort(), [...english.keys()].sort(), `${file} defines the same texts as en.asp`);
        for (const name of used) assert.ok(texts.get(name), `${file} defines ${name}`);
        for (const [name, value] of texts) assert.ok(!/[+"]|\.\.\//.test(value), `${file} ${name}: no plus sign, quote or ../`);
      }
    }],
    ['skin list names every skin file, the last one existing', () => {
      const dir = join(upload, 'skins', '2');
      const { items, last } = scanSkinList(readFileSync(join(dir, 'skin.js'), 'utf8'));
      assert.deepEqual([...items].sort(), readdirSync(dir).sort(), 'every file of the skin is listed, and only those');
      assert.equal(last, 'skin.js', 'skin.js is sent last, so a server holding it holds the whole skin');
      assert.ok(existsSync(join(dir, last)));
    }],
    ['no file refers to another host', () => {
      const files = ['booklet.asp', 'bar2.asp', 'index.js', 'service.asp', 'print.html', 'RurovOzeza.v1.css',
        'skins/2/site_styles.css', 'skins/2/home.svg', 'skins/2/icon.svg', 'skins/2/loading.svg'];
      for (const f of files) {
        const body = read(f).replace(/xmlns="http:\/\/www\.w3\.org\/2000\/svg"/g, '');
        assert.ok(!/(src|href|url)\s*[=(]\s*["']?\s*(https?:)?\/\//i.test(body), `${f} loads from another host`);
        assert.ok(!/@import/.test(body), `${f} imports a style sheet`);
      }
    }],
  ];
}
