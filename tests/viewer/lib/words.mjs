// Where the words of a book's page stand on the screen, from the book's own files.

// The box of the first `word` of page n as the book's files give it (layout.js per line
// its top below the last line and its height, per word its left edge from the last
// line's first word or from the word before, and its width, in half points; the words
// from txt.js), on the screen inside `scope`.
export const wordBoxOnScreen = (page, n, word, scope) => page.evaluate(([n, word, scope]) => {
  const L = window.VELLUMARK_BOOK_LAYOUT, D = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_';
  const p = L.pages[n - 1], v = [];
  let high = 0;
  for (const c of p.lines) {
    const d = D.indexOf(c);
    if (d >= 56) high = high * 8 + d - 56;
    else { v.push(high * 56 + d); high = 0; }
  }
  const unfold = (k) => (k % 2 ? -(k + 1) / 2 : k / 2);
  let at = 0, bottom = 0, firstLeft = 0, box = null;
  for (const line of window.VELLUMARK_BOOK_TEXT.pages[n - 1].split('\n')) {
    const words = line.split(/\s+/).filter(Boolean);
    if (!words.length) continue;
    const top = bottom + unfold(v[at]), height = v[at + 1];
    bottom = top + height;
    at += 2;
    let right = 0;
    words.forEach((w, i) => {
      const left = unfold(v[at]) + (i ? right : firstLeft);
      if (!i) firstLeft = left;
      right = left + v[at + 1];
      if (w === word && !box) box = [left / p.w, top / p.h, v[at + 1] / p.w, height / p.h].map((f) => f / L.unit);
      at += 2;
    });
  }
  const r = document.querySelector(`${scope} [data-page="${n}"]`).getBoundingClientRect();
  return { x: r.x + box[0] * r.width, y: r.y + box[1] * r.height, w: box[2] * r.width, h: box[3] * r.height };
}, [n, word, scope]);
