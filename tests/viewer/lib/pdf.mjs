// Writes small PDF files for the viewer tests and the benchmark: letter-size pages with a
// heading, lines of text in a standard font and a coloured block, so that every page has
// both a background (the block) and a text layer.
import { writeFileSync } from 'node:fs';

// Text for a PDF string literal in the standard Latin encoding; characters outside it
// become '?'.
function pdfString(text) {
  let out = '';
  for (const ch of text) {
    const c = ch.codePointAt(0);
    if (ch === '(' || ch === ')' || ch === '\\') out += '\\' + ch;
    else if (c >= 32 && c < 127) out += ch;
    else if (c >= 160 && c < 256) out += '\\' + c.toString(8).padStart(3, '0');
    else out += '?';
  }
  return out;
}

// The y of line j of a page (baseline, points from the bottom) and its font size.
export function lineY(j) { return j === 0 ? 700 : 660 - 22 * j; }
export function lineSize(j) { return j === 0 ? 30 : 14; }

// pages: array of arrays of lines; the first line of a page is its heading. Options:
//   links(n): link areas of page n, [{ rect: [x, y, w, h] (points from the bottom left),
//             page } or { rect, uri }]
//   outline:  [{ title, page, level }] in reading order
//   pageLabels: the content of the page label tree's /Nums array, e.g. '0 << /S /r >>'
//   direction: 'R2L' for a right-to-left reading preference
export function writePdf(path, pages, { title = '', links = () => [], outline = [], pageLabels = '', direction = '' } = {}) {
  const objects = [];
  const add = (body) => { objects.push(body); return objects.length; };
  const font = add('<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>');
  const pagesId = add(null);
  // Page objects are numbered before they are written, so that links can point at them.
  const kids = pages.map(() => add(null));
  pages.forEach((lines, i) => {
    const ops = [`0.85 0.45 0.2 rg 72 ${90 + (i % 7) * 20} 220 120 re f`, '0 0 0 rg'];
    lines.forEach((line, j) => {
      ops.push(`BT /F1 ${lineSize(j)} Tf 72 ${lineY(j)} Td (${pdfString(line)}) Tj ET`);
    });
    const content = ops.join('\n');
    const c = add(`<< /Length ${Buffer.byteLength(content, 'latin1')} >>\nstream\n${content}\nendstream`);
    const annots = links(i + 1).map(({ rect: [x, y, w, h], page, uri }) => add(
      `<< /Type /Annot /Subtype /Link /Border [0 0 0] /Rect [${x} ${y} ${x + w} ${y + h}] ` +
      (page ? `/Dest [${kids[page - 1]} 0 R /Fit] >>` : `/A << /S /URI /URI (${pdfString(uri)}) >> >>`)));
    objects[kids[i] - 1] = `<< /Type /Page /Parent ${pagesId} 0 R /MediaBox [0 0 612 792] /Contents ${c} 0 R ` +
      `/Resources << /Font << /F1 ${font} 0 R >> >>` +
      (annots.length ? ` /Annots [${annots.map((a) => `${a} 0 R`).join(' ')}]` : '') + ' >>';
  });
  objects[pagesId - 1] = `<< /Type /Pages /Kids [${kids.map((k) => `${k} 0 R`).join(' ')}] /Count ${kids.length} >>`;
  const info = add(`<< /Title (${pdfString(title)}) /Producer (viewer tests) >>`);
  let extra = '';
  if (outline.length) extra += ` /Outlines ${writeOutline(add, objects, outline, kids)} 0 R`;
  if (pageLabels) extra += ` /PageLabels << /Nums [${pageLabels}] >>`;
  if (direction) extra += ` /ViewerPreferences << /Direction /${direction} >>`;
  const catalog = add(`<< /Type /Catalog /Pages ${pagesId} 0 R${extra} >>`);

  const chunks = ['%PDF-1.4\n'];
  let size = chunks[0].length;
  const offsets = objects.map((body, i) => {
    const text = `${i + 1} 0 obj\n${body}\nendobj\n`;
    const at = size;
    chunks.push(text);
    size += Buffer.byteLength(text, 'latin1');
    return at;
  });
  chunks.push(`xref\n0 ${objects.length + 1}\n0000000000 65535 f \n`);
  for (const o of offsets) chunks.push(`${String(o).padStart(10, '0')} 00000 n \n`);
  chunks.push(`trailer\n<< /Size ${objects.length + 1} /Root ${catalog} 0 R /Info ${info} 0 R >>\nstartxref\n${size}\n%%EOF\n`);
  writeFileSync(path, Buffer.from(chunks.join(''), 'latin1'));
}

// The outline tree of `entries` ({ title, page, level }); returns the object number of its root.
function writeOutline(add, objects, entries, kids) {
  const root = add(null);
  const ids = entries.map(() => add(null));
  const parentOf = (i) => {
    for (let j = i - 1; j >= 0; j--) if (entries[j].level === entries[i].level - 1) return ids[j];
    return root;
  };
  const children = new Map();
  entries.forEach((e, i) => {
    const p = parentOf(i);
    if (!children.has(p)) children.set(p, []);
    children.get(p).push(i);
  });
  const listEntries = (id) => {
    const list = children.get(id) || [];
    return list.length ? ` /First ${ids[list[0]]} 0 R /Last ${ids[list[list.length - 1]]} 0 R /Count ${list.length}` : '';
  };
  entries.forEach((e, i) => {
    const siblings = children.get(parentOf(i));
    const at = siblings.indexOf(i);
    objects[ids[i] - 1] = `<< /Title (${pdfString(e.title)}) /Parent ${parentOf(i)} 0 R /Dest [${kids[e.page - 1]} 0 R /Fit]` +
      (at > 0 ? ` /Prev ${ids[siblings[at - 1]]} 0 R` : '') +
      (at + 1 < siblings.length ? ` /Next ${ids[siblings[at + 1]]} 0 R` : '') + listEntries(ids[i]) + ' >>';
  });
  objects[root - 1] = `<< /Type /Outlines${listEntries(root)} >>`;
  return root;
}

// A word no other page of a test book contains, for searching page n.
export const pageWords = ['aardvark', 'badger', 'cheetah', 'dingo', 'elkhound', 'ferret', 'gecko', 'heron',
  'impala', 'jackal', 'kestrel', 'lemur', 'marmot', 'narwhal', 'ocelot', 'pelican'];
export function pageWord(n) {
  const w = pageWords[(n - 1) % pageWords.length];
  return n <= pageWords.length ? w : `${w}${n}`;
}

// Lines of page n of a test book.
export function pageLines(n) {
  return [`Chapter ${n}`, `This page tells of the ${pageWord(n)}.`, 'Plain text for the search and the alternative text.'];
}
