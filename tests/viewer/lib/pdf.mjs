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

// The glyph advance of the Unicode test font, in font size units.
const UNICODE_ADVANCE = 0.6;

// A composite font whose codes are the characters' Unicode values (first plane), with a
// map back to them, so that a line can be in any script without embedding a font.
function unicodeFont(add) {
  const hex = (n) => n.toString(16).toUpperCase().padStart(2, '0');
  const ranges = [];
  for (let hi = 0; hi < 256; hi++) if (hi < 0xD8 || hi > 0xDF) ranges.push(`<${hex(hi)}00> <${hex(hi)}FF> <${hex(hi)}00>`);
  const sections = [];
  for (let i = 0; i < ranges.length; i += 100) {
    const chunk = ranges.slice(i, i + 100);
    sections.push(`${chunk.length} beginbfrange\n${chunk.join('\n')}\nendbfrange`);
  }
  const cmap = '/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n' +
    '/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n/CMapName /Adobe-Identity-UCS def\n' +
    `/CMapType 2 def\n1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n${sections.join('\n')}\n` +
    'endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n';
  const toUnicode = add(`<< /Length ${cmap.length} >>\nstream\n${cmap}\nendstream`);
  const descriptor = add('<< /Type /FontDescriptor /FontName /VellumarkTestSans /Flags 4 /FontBBox [0 -200 600 800] ' +
    '/ItalicAngle 0 /Ascent 800 /Descent -200 /CapHeight 700 /StemV 80 >>');
  const cid = add('<< /Type /Font /Subtype /CIDFontType2 /BaseFont /VellumarkTestSans ' +
    `/CIDSystemInfo << /Registry (Adobe) /Ordering (Identity) /Supplement 0 >> /FontDescriptor ${descriptor} 0 R ` +
    `/DW ${UNICODE_ADVANCE * 1000} /CIDToGIDMap /Identity >>`);
  return add('<< /Type /Font /Subtype /Type0 /BaseFont /VellumarkTestSans /Encoding /Identity-H ' +
    `/DescendantFonts [${cid} 0 R] /ToUnicode ${toUnicode} 0 R >>`);
}

// A right-to-left line (words in reading order) ending at the right margin, its glyphs
// stored as most PDF writers store them: in the order they stand on the page, left to
// right, so each right-to-left word's letters come last to first; numbers and Latin words
// keep their order.
function rtlLine(words, y, size) {
  const shown = [...words].reverse().map((w) => (/[\u0590-\u08ff]/.test(w) ? [...w].reverse().join('') : w)).join(' ');
  const x = 540 - UNICODE_ADVANCE * size * shown.length;
  const codes = [...shown].map((c) => c.codePointAt(0).toString(16).toUpperCase().padStart(4, '0')).join('');
  return `BT /F2 ${size} Tf ${x.toFixed(2)} ${y} Td <${codes}> Tj ET`;
}

// pages: array of arrays of lines; the first line of a page is its heading; a line
// { rtl: [words] } is right-to-left text (Arabic, Hebrew) set against the right margin.
// Options:
//   links(n): link areas of page n, [{ rect: [x, y, w, h] (points from the bottom left),
//             page } or { rect, uri }]
//   outline:  [{ title, page, level }] in reading order
//   pageLabels: the content of the page label tree's /Nums array, e.g. '0 << /S /r >>'
//   direction: 'R2L' for a right-to-left reading preference
export function writePdf(path, pages, { title = '', links = () => [], outline = [], pageLabels = '', direction = '' } = {}) {
  const objects = [];
  const add = (body) => { objects.push(body); return objects.length; };
  const font = add('<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>');
  const unicode = pages.some((lines) => lines.some((l) => l.rtl)) ? unicodeFont(add) : 0;
  const pagesId = add(null);
  // Page objects are numbered before they are written, so that links can point at them.
  const kids = pages.map(() => add(null));
  pages.forEach((lines, i) => {
    const ops = [`0.85 0.45 0.2 rg 72 ${90 + (i % 7) * 20} 220 120 re f`, '0 0 0 rg'];
    lines.forEach((line, j) => {
      ops.push(line.rtl ? rtlLine(line.rtl, lineY(j), lineSize(j))
        : `BT /F1 ${lineSize(j)} Tf 72 ${lineY(j)} Td (${pdfString(line)}) Tj ET`);
    });
    const content = ops.join('\n');
    const c = add(`<< /Length ${Buffer.byteLength(content, 'latin1')} >>\nstream\n${content}\nendstream`);
    const annots = links(i + 1).map(({ rect: [x, y, w, h], page, uri }) => add(
      `<< /Type /Annot /Subtype /Link /Border [0 0 0] /Rect [${x} ${y} ${x + w} ${y + h}] ` +
      (page ? `/Dest [${kids[page - 1]} 0 R /Fit] >>` : `/A << /S /URI /URI (${pdfString(uri)}) >> >>`)));
    objects[kids[i] - 1] = `<< /Type /Page /Parent ${pagesId} 0 R /MediaBox [0 0 612 792] /Contents ${c} 0 R ` +
      `/Resources << /Font << /F1 ${font} 0 R${unicode ? ` /F2 ${unicode} 0 R` : ''} >> >>` +
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
