#!/usr/bin/env python3
"""Composes the benchmark document: N pages of A4 in the manner of a report.

  make_bench_pdf.py PAGES OUTFILE

Every page has a running header with a rule, a section heading and body text set in two
columns of 9.5 pt Helvetica (about 650 words: text-heavy). Every third page also carries
a figure, in turn a bar chart (vector fills and strokes), an embedded RGB picture or a
row of filled circles (curves), with a caption; every fifth page a shaded box with a
coloured rule. The words come from a fixed vocabulary in a fixed pseudo-random order, so
the same PAGES always gives the same bytes.
"""

import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "pdfgen"))
import pdfgen  # noqa: E402

A4 = pdfgen.A4
WORDS = sorted({w.strip(".,").lower() for _, paras in pdfgen.SECTIONS for p in paras for w in p.split()})


def sentence(rng):
    words = [rng.choice(WORDS) for _ in range(rng.randint(6, 18))]
    words[0] = words[0].capitalize()
    return " ".join(words) + "."


def column(page, rng, x, y, width, bottom, size=9.5):
    while y > bottom:
        text = " ".join(sentence(rng) for _ in range(rng.randint(3, 6)))
        for line in pdfgen.wrap(text, size, width):
            if y <= bottom:
                return
            page.text(x, y, line, size)
            y -= size * 1.3
        y -= size * 0.6


def bench_page(number, rng):
    page = pdfgen.Page(*A4)
    margin, gutter = 50, 18
    width = A4[0] - 2 * margin
    col = (width - gutter) / 2
    page.text(margin, A4[1] - 40, "Vellumark benchmark report - section %d" % ((number - 1) // 4 + 1), 8,
              color=(0.4, 0.4, 0.4))
    page.line(margin, A4[1] - 46, A4[0] - margin, A4[1] - 46, 0.5, (0.6, 0.6, 0.6))
    heading, _ = pdfgen.SECTIONS[number % len(pdfgen.SECTIONS)]
    page.text(margin, A4[1] - 80, "%d. %s" % (number, heading), 18, bold=True)
    top = A4[1] - 105
    if number % 3 == 0:
        pdfgen.figure(page, (number // 3) % 3, margin, top - 210, width, 200, number % 17 + 1)
        page.text(margin, top - 225, "Figure %d. Results for section %d." % (number // 3, number), 8,
                  color=(0.3, 0.3, 0.3))
        top -= 245
    if number % 5 == 0:
        page.rect(margin, 70, width, 90, fill=(0.93, 0.95, 0.88), stroke=(0.3, 0.5, 0.2), line_width=2.5)
        column(page, rng, margin + 10, 140, width - 20, 80)
        bottom = 175
    else:
        bottom = 60
    column(page, rng, margin, top, col, bottom)
    column(page, rng, margin + col + gutter, top, col, bottom)
    page.text(A4[0] / 2 - 6, 30, str(number), 8)
    return page


def main(argv):
    if len(argv) != 3 or not argv[1].isdigit():
        sys.stderr.write(__doc__)
        return 2
    rng = random.Random(20240601)
    pages = [bench_page(n, rng) for n in range(1, int(argv[1]) + 1)]
    info = {"Title": "Vellumark benchmark report", "Author": "Vellumark",
            "Subject": "Benchmark document", "Keywords": "benchmark"}
    with open(argv[2], "wb") as f:
        f.write(pdfgen.build(pages, info))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
