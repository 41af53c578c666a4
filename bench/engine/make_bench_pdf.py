#!/usr/bin/env python3
"""Composes the benchmark documents: N pages of A4 in the manner of a report, or with
--figures in the manner of a figure-heavy manual.

  make_bench_pdf.py PAGES OUTFILE [--figures] [--changed-page N]

--changed-page N adds a correction note to page N, as a corrected edition would; every
other page stays byte for byte the same.

Every page has a running header with a rule, a section heading and body text set in two
columns of 9.5 pt Helvetica (about 650 words: text-heavy). Every third page also carries
a figure, in turn a bar chart (vector fills and strokes), an embedded RGB picture or a
row of filled circles (curves), with a caption; every fifth page a shaded box with a
coloured rule. The words come from a fixed vocabulary in a fixed pseudo-random order, so
the same PAGES always gives the same bytes.

The figure-heavy manual has on every page a screenshot (a picture with flat panels, window
bars, gradients and fine detail) with coloured call-outs and labels drawn over it, a
diagram of boxes, connectors and labels in thin strokes, one column of text and a shaded
note with coloured text; every other page also one of the report's figures.
"""

import math
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


def screenshot(w, h, seed):
    """RGB bytes of a made-up application window: title bar, side panel with list rows,
    a toolbar of coloured buttons, a smooth picture in the work area and a status bar."""
    rng = random.Random(seed)
    accent = (rng.randint(40, 200), rng.randint(60, 160), rng.randint(120, 230))
    data = bytearray(w * h * 3)
    panel = w // 4
    for j in range(h):
        for i in range(w):
            if j < 12:
                rgb = accent if i < w - 30 else (200, 60, 60)
            elif j < 26:
                rgb = (236, 236, 236) if (i // 18) % 3 else (accent[0], 200, accent[2])
            elif j >= h - 10:
                rgb = (220, 220, 220)
            elif i < panel:
                row = (j - 26) // 14
                rgb = (250, 250, 250) if row % 2 else (240, 243, 247)
                if row == seed % 6:
                    rgb = (accent[0] // 2 + 120, accent[1] // 2 + 120, 255)
            else:
                d = math.hypot(i - w * 0.65, j - h * 0.5)
                ring = 0.5 + 0.5 * math.sin(d / (4.0 + seed % 5))
                rgb = (int(255 * (i - panel) / (w - panel)), int(180 * ring + 40), int(255 * j / h))
            k = 3 * (j * w + i)
            data[k:k + 3] = bytes(rgb)
    return bytes(data)


def manual_page(number, rng):
    page = pdfgen.Page(*A4)
    margin = 50
    width = A4[0] - 2 * margin
    blue = (0.1, 0.3, 0.6)
    page.text(margin, A4[1] - 40, "Vellumark figure manual - chapter %d" % ((number - 1) // 6 + 1), 8,
              color=(0.4, 0.4, 0.4))
    page.line(margin, A4[1] - 46, A4[0] - margin, A4[1] - 46, 0.5, (0.6, 0.6, 0.6))
    page.text(margin, A4[1] - 78, "%d. Working with panel %d" % (number, number % 9 + 1), 17, bold=True,
              color=blue)
    # Screenshot with call-outs over it.
    top = A4[1] - 95
    shot_h = 250
    page.image("Shot%d" % number, margin, top - shot_h, width, shot_h, 240, 125, screenshot(240, 125, number))
    for k in range(4):
        x = margin + width * (0.3 + 0.16 * k)
        y = top - shot_h * (0.25 + 0.15 * k)
        page.circle(x, y, 7, (0.85, 0.15, 0.1))
        page.text(x - 3, y - 3.5, str(k + 1), 9, bold=True, color=(1, 1, 1))
        page.line(x + 7, y, x + 40, y + 18, 0.8, (0.85, 0.15, 0.1))
        page.text(x + 42, y + 16, "Option %d" % (k + 1), 9, bold=True, color=(0.1, 0.1, 0.1))
    page.text(margin, top - shot_h - 14, "Figure %d.1. The panel with its options marked." % number, 8,
              color=(0.3, 0.3, 0.3))
    # Diagram: boxes with labels, joined by thin connectors.
    top -= shot_h + 30
    boxes = []
    for k in range(5):
        bx = margin + 8 + k * (width - 16) / 5
        by = top - 60 - (k % 2) * 40
        page.rect(bx, by, 80, 34, fill=(0.92, 0.95, 1.0), stroke=blue, line_width=0.8)
        page.text(bx + 6, by + 20, "Step %d" % (k + 1), 9, bold=True, color=blue)
        page.text(bx + 6, by + 8, pdfgen.SECTIONS[(number + k) % len(pdfgen.SECTIONS)][0][:14], 7)
        boxes.append((bx, by))
    for (ax, ay), (bx, by) in zip(boxes, boxes[1:]):
        page.line(ax + 80, ay + 17, bx, by + 17, 0.6, (0.2, 0.2, 0.2))
    # One column of text, with a report figure on every other page.
    top -= 130
    if number % 2 == 0:
        pdfgen.figure(page, (number // 2) % 3, margin + width / 2 + 10, top - 170, width / 2 - 10, 170,
                      number % 13 + 1)
        column(page, rng, margin, top, width / 2 - 10, 150)
    else:
        column(page, rng, margin, top, width, 150)
    # Shaded note with coloured text.
    page.rect(margin, 70, width, 65, fill=(1.0, 0.96, 0.85), stroke=(0.85, 0.55, 0.1), line_width=1.0)
    page.text(margin + 10, 118, "Note", 10, bold=True, color=(0.7, 0.35, 0.0))
    column(page, rng, margin + 10, 104, width - 20, 76, size=8.5)
    page.text(A4[0] / 2 - 6, 30, str(number), 8)
    return page


def main(argv):
    figures = "--figures" in argv
    argv = [a for a in argv if a != "--figures"]
    changed = 0
    if "--changed-page" in argv:
        at = argv.index("--changed-page")
        changed = int(argv[at + 1])
        del argv[at:at + 2]
    if len(argv) != 3 or not argv[1].isdigit():
        sys.stderr.write(__doc__)
        return 2
    rng = random.Random(20240601)
    make = manual_page if figures else bench_page
    pages = [make(n, rng) for n in range(1, int(argv[1]) + 1)]
    if 1 <= changed <= len(pages):
        pages[changed - 1].text(50, 50, "Corrected in the second edition.", 10, bold=True, color=(0.7, 0.1, 0.1))
    info = {"Title": "Vellumark benchmark " + ("manual" if figures else "report"), "Author": "Vellumark",
            "Subject": "Benchmark document", "Keywords": "benchmark"}
    with open(argv[2], "wb") as f:
        f.write(pdfgen.build(pages, info))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
