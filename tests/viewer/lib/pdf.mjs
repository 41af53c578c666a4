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

// pages: array of arrays of lines; the first line of a page is its heading.
export function writePdf(path, pages, { title = '' } = {}) {
  const objects = [];
  const add = (body) => { objects.push(body); return objects.length; };
  const font = add('<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>');
  const pagesId = add(null);
  const kids = [];
  pages.forEach((lines, i) => {
    const ops = [`0.85 0.45 0.2 rg 72 ${90 + (i % 7) * 20} 220 120 re f`, '0 0 0 rg'];
    lines.forEach((line, j) => {
      const size = j === 0 ? 30 : 14;
      const y = j === 0 ? 700 : 660 - 22 * j;
      ops.push(`BT /F1 ${size} Tf 72 ${y} Td (${pdfString(line)}) Tj ET`);
    });
    const content = ops.join('\n');
    const c = add(`<< /Length ${Buffer.byteLength(content, 'latin1')} >>\nstream\n${content}\nendstream`);
    kids.push(add(`<< /Type /Page /Parent ${pagesId} 0 R /MediaBox [0 0 612 792] /Contents ${c} 0 R ` +
      `/Resources << /Font << /F1 ${font} 0 R >> >> >>`));
  });
  objects[pagesId - 1] = `<< /Type /Pages /Kids [${kids.map((k) => `${k} 0 R`).join(' ')}] /Count ${kids.length} >>`;
  const info = add(`<< /Title (${pdfString(title)}) /Producer (viewer tests) >>`);
  const catalog = add(`<< /Type /Catalog /Pages ${pagesId} 0 R >>`);

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
