#!/usr/bin/env python3
"""Compares a book's layout.js (with the words of its txt.js) with what the test
document's generator put in the PDF (navigation.expected.json): direction, outline,
labels, words and their boxes, links. Prints one line per difference and exits with 1
when there is any.
  check_layout.py BOOK_FOLDER EXPECTED_JSON"""

import json
import sys

PREFIX = "window.VELLUMARK_BOOK_LAYOUT = "
TEXT_PREFIX = "window.VELLUMARK_BOOK_TEXT = "
DIGITS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
# One pixel at 100 dpi, in points.
TOLERANCE = 72.0 / 100.0


def load_script(path, prefix):
    text = open(path, encoding="utf-8").read()
    assert text.startswith(prefix) and text.endswith(";\n"), "not the shape of " + path
    return json.loads(text[len(prefix):-2])


def numbers(packed):
    """Digits 56 to 63 carry a number's high part, three bits each; a lower digit ends it."""
    out, high = [], 0
    for c in packed:
        d = DIGITS.index(c)
        if d >= 56:
            high = high * 8 + d - 56
        else:
            out.append(high * 56 + d)
            high = 0
    assert high == 0, "the last number is not finished"
    return out


def unfold(n):
    """0, 1, 2, 3, 4, ... back to 0, -1, 1, -2, 2, ..."""
    return -(n + 1) // 2 if n % 2 else n // 2


def words_with_boxes(page, text, unit):
    """(word, [x0, y0, x1, y1] in points) for each word of the page's text. Per line its
    top below the previous line's bottom and its height, then the first word's left edge
    from the previous line's first word, every other one from the previous word's right
    edge, each with the word's width."""
    values, at, out = numbers(page["lines"]), 0, []
    bottom = first_left = 0
    for line in text.split("\n"):
        words = line.split()
        if not words:
            continue
        top = bottom + unfold(values[at])
        height = values[at + 1]
        bottom = top + height
        at += 2
        for i, w in enumerate(words):
            x = unfold(values[at]) + (right if i else first_left)
            if i == 0:
                first_left = x
            right = x + values[at + 1]
            at += 2
            out.append((w, [x / unit, top / unit, right / unit, bottom / unit]))
    assert at == len(values), "%d numbers for %d read" % (len(values), at)
    return out


def close(a, b):
    return all(abs(x - y) <= TOLERANCE for x, y in zip(a, b))


def word_box_fits(box, expected, size):
    """Horizontal edges within a pixel of the glyph advances the generator set. The
    height of a glyph comes from the font the engine draws with, which for a font the
    PDF does not embed is a substitute; so the box must cover the ascent and descent the
    PDF declares and stay within 1.4 font sizes."""
    x0, top, x1, bottom = expected
    return (abs(box[0] - x0) <= TOLERANCE and abs(box[2] - x1) <= TOLERANCE and
            box[1] <= top + TOLERANCE and box[3] >= bottom - TOLERANCE and
            box[3] - box[1] <= 1.4 * size + TOLERANCE)


def main(book, expected_path):
    got = load_script(book + "/layout.js", PREFIX)
    texts = load_script(book + "/txt.js", TEXT_PREFIX)["pages"]
    want = json.load(open(expected_path, encoding="utf-8"))
    problems = []
    if got.get("version") != 2:
        problems.append("version %r" % got.get("version"))
    for key in ("direction", "pageCount", "outline"):
        if got.get(key) != want[key]:
            problems.append("%s: %r, expected %r" % (key, got.get(key), want[key]))
    if len(got["pages"]) != len(want["pages"]):
        problems.append("%d pages, expected %d" % (len(got["pages"]), len(want["pages"])))
    unit = got["unit"]
    for n, (page, exp, text) in enumerate(zip(got["pages"], want["pages"], texts), 1):
        if abs(page["w"] - exp["w"]) > 0.01 or abs(page["h"] - exp["h"]) > 0.01:
            problems.append("page %d: size %s x %s" % (n, page["w"], page["h"]))
        if page.get("label") != exp["label"]:
            problems.append("page %d: label %r, expected %r" % (n, page.get("label"), exp["label"]))
        found = words_with_boxes(page, text, unit)
        words = [w for w, _ in found]
        expected_words = [w[0] for w in exp["words"]]
        if words != expected_words:
            problems.append("page %d: words %r, expected %r" % (n, words, expected_words))
        for (word, box), w in zip(found, exp["words"]):
            if not word_box_fits(box, w[1:5], w[5]):
                problems.append("page %d: box of %r is %s, expected %s" % (n, w[0], box, w[1:]))
        links = sorted(page.get("links", []), key=lambda l: (l[0], l[1]))
        expected_links = sorted(exp["links"], key=lambda l: (l[0], l[1]))
        if len(links) != len(expected_links):
            problems.append("page %d: links %r, expected %r" % (n, links, expected_links))
            continue
        for link, e in zip(links, expected_links):
            box = [v / unit for v in (link[0], link[1], link[0] + link[2], link[1] + link[3])]
            if not close(box, e[:4]) or link[4] != e[4]:
                problems.append("page %d: link %r, expected %r" % (n, [box, link[4]], e))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
