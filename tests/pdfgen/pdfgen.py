#!/usr/bin/env python3
"""Makes the PDF documents that the engine tests and the shipped sample use.

  pdfgen.py fixtures OUTDIR     every test document, under fixed names, into OUTDIR
  pdfgen.py sample OUTFILE [N]  the sample book (A4 portrait, text and figures), 12 pages
                                or N pages (the sections repeat)
"""

import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pdfwriter import Name, PdfWriter, Stream  # noqa: E402
import navigation  # noqa: E402

A4 = (595.276, 841.89)

# Advance widths of Helvetica (per 1000 units) for the printable ASCII range, used to wrap
# lines; other characters count as an average letter.
_HELV = [278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,
         556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,
         1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,
         667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,
         333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,
         556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584]


def text_width(text, size, bold=False):
    units = sum(_HELV[ord(c) - 32] if 32 <= ord(c) < 127 else 556 for c in text)
    return units * size / 1000.0 * (1.06 if bold else 1.0)


def pdf_text(text):
    raw = text.encode("cp1252", "replace")
    return b"(" + raw.replace(b"\\", b"\\\\").replace(b"(", b"\\(").replace(b")", b"\\)") + b")"


def wrap(text, size, width):
    lines, line = [], ""
    for word in text.split():
        candidate = word if not line else line + " " + word
        if text_width(candidate, size) <= width or not line:
            line = candidate
        else:
            lines.append(line)
            line = word
    if line:
        lines.append(line)
    return lines


class Page:
    """Content of one page: text lines, shapes and images, in drawing order."""

    def __init__(self, width, height, rotate=0):
        self.width, self.height, self.rotate = width, height, rotate
        self.ops = bytearray()
        self.images = {}
        self.form_depth = 0  # > 0: the page draws a nest of forms (see nested_forms)
        # Link areas: (x, y, w, h, target), target a page index (from 0) or an action
        # dictionary (see navigation.py).
        self.links = []
        self.uses_unicode_font = False

    def text(self, x, y, text, size=11, bold=False, color=(0, 0, 0)):
        font = b"/F2" if bold else b"/F1"
        self.ops += b"BT %.3f %.3f %.3f rg %s %.2f Tf %.2f %.2f Td %s Tj ET\n" % (
            color[0], color[1], color[2], font, size, x, y, pdf_text(text))

    def rect(self, x, y, w, h, fill=None, stroke=None, line_width=1.0):
        if fill:
            self.ops += b"%.3f %.3f %.3f rg " % fill
        if stroke:
            self.ops += b"%.3f %.3f %.3f RG %.2f w " % (stroke + (line_width,))
        op = b"B" if fill and stroke else (b"f" if fill else b"S")
        self.ops += b"%.2f %.2f %.2f %.2f re %s\n" % (x, y, w, h, op)

    def line(self, x0, y0, x1, y1, width=0.5, color=(0, 0, 0)):
        self.ops += b"%.3f %.3f %.3f RG %.2f w %.2f %.2f m %.2f %.2f l S\n" % (
            color + (width, x0, y0, x1, y1))

    def circle(self, cx, cy, r, fill):
        k = 0.5523 * r
        self.ops += b"%.3f %.3f %.3f rg %.2f %.2f m " % (fill + (cx + r, cy))
        for (x1, y1, x2, y2, x3, y3) in [
                (cx + r, cy + k, cx + k, cy + r, cx, cy + r),
                (cx - k, cy + r, cx - r, cy + k, cx - r, cy),
                (cx - r, cy - k, cx - k, cy - r, cx, cy - r),
                (cx + k, cy - r, cx + r, cy - k, cx + r, cy)]:
            self.ops += b"%.2f %.2f %.2f %.2f %.2f %.2f c " % (x1, y1, x2, y2, x3, y3)
        self.ops += b"f\n"

    def image(self, name, x, y, w, h, pixels_w, pixels_h, rgb):
        self.images[name] = (pixels_w, pixels_h, rgb)
        self.ops += b"q %.2f 0 0 %.2f %.2f %.2f cm /%s Do Q\n" % (w, h, x, y, name.encode())

    def paragraph(self, x, y, width, text, size=11, leading=1.35):
        for line in wrap(text, size, width):
            self.text(x, y, line, size)
            y -= size * leading
        return y


def gradient_image(w, h, seed=0, light=False):
    """A smooth colour picture with a few rings: looks like an image and not like text.
    A light one (every channel 170 or more) lets a test tell dark letters from it."""
    data = bytearray()
    for j in range(h):
        for i in range(w):
            d = math.hypot(i - w * 0.6, j - h * 0.4)
            ring = 0.5 + 0.5 * math.sin(d / (3.0 + seed))
            rgb = (255 * i / max(1, w - 1), 200 * ring, 255 * j / max(1, h - 1))
            if light:
                rgb = tuple(170 + v / 3 for v in rgb)
            data += bytes(int(v) for v in rgb)
    return bytes(data)


def nested_forms(w, depth):
    """Forms that each draw the next one ten times: ten to the power `depth` little
    squares from a few hundred bytes, a page that takes practically forever to draw."""
    inner = w.add(Stream({"Type": Name("XObject"), "Subtype": Name("Form"), "BBox": [0, 0, 10, 10]},
                         b"0 0 1 1 re f\n"))
    for _ in range(depth):
        ops = b"".join(b"q 0.9 0 0 0.9 %d %d cm /X Do Q\n" % (i, i) for i in range(10))
        inner = w.add(Stream({"Type": Name("XObject"), "Subtype": Name("Form"), "BBox": [0, 0, 10, 10],
                              "Resources": {"XObject": {"X": inner}}}, ops))
    return inner


def build(pages, info=None, user_password=None, owner_password=None, catalog=None):
    """catalog: None or a function (writer, page refs) -> extra catalog entries."""
    w = PdfWriter()
    font_regular = w.add({"Type": Name("Font"), "Subtype": Name("Type1"),
                          "BaseFont": Name("Helvetica"), "Encoding": Name("WinAnsiEncoding")})
    font_bold = w.add({"Type": Name("Font"), "Subtype": Name("Type1"),
                       "BaseFont": Name("Helvetica-Bold"), "Encoding": Name("WinAnsiEncoding")})
    pages_ref = w.reserve()
    kids = [w.reserve() for _ in pages]
    unicode_font = navigation.unicode_font(w) if any(p.uses_unicode_font for p in pages) else None
    for page, page_ref in zip(pages, kids):
        xobjects = {}
        for name, (pw, ph, rgb) in page.images.items():
            xobjects[name] = w.add(Stream({"Type": Name("XObject"), "Subtype": Name("Image"),
                                           "Width": pw, "Height": ph,
                                           "ColorSpace": Name("DeviceRGB"),
                                           "BitsPerComponent": 8}, rgb))
        if page.form_depth:
            xobjects["Nest"] = nested_forms(w, page.form_depth)
        resources = {"Font": {"F1": font_regular, "F2": font_bold}}
        if unicode_font:
            resources["Font"]["F3"] = unicode_font
        if xobjects:
            resources["XObject"] = xobjects
        content = w.add(Stream({}, bytes(page.ops)))
        entries = {"Type": Name("Page"), "Parent": pages_ref,
                   "MediaBox": [0, 0, page.width, page.height],
                   "Resources": resources, "Contents": content}
        if page.rotate:
            entries["Rotate"] = page.rotate
        if page.links:
            entries["Annots"] = [navigation.link_annotation(w, link, kids) for link in page.links]
        w.set(page_ref, entries)
    w.set(pages_ref, {"Type": Name("Pages"), "Kids": kids, "Count": len(kids)})
    root_entries = {"Type": Name("Catalog"), "Pages": pages_ref}
    if catalog:
        root_entries.update(catalog(w, kids))
    root = w.add(root_entries)
    info_ref = w.add(info) if info else None
    if user_password is not None or owner_password is not None:
        w.encrypt(user_password or "", owner_password or "")
    return w.tobytes(root, info_ref)


def text_page(number, size=A4, rotate=0, words=None):
    page = Page(size[0], size[1], rotate)
    page.text(50, size[1] - 60, "Page %d heading" % number, 20, bold=True)
    body = words or ("This is page %d of the test document. The quick brown fox jumps over "
                     "the lazy dog while the engine extracts every word. " % number) * 3
    page.paragraph(50, size[1] - 100, size[0] - 100, body)
    return page


def image_page(number, size=A4, light=False):
    page = Page(size[0], size[1])
    page.rect(0, 0, size[0], size[1], fill=(0.85, 0.92, 1.0))
    page.image("Im1", 40, 40, size[0] - 80, size[1] - 80, 96, 128, gradient_image(96, 128, number, light))
    return page


def fixtures(outdir):
    os.makedirs(outdir, exist_ok=True)

    def save(name, data):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(data)

    info = {"Title": "Über \"quoted\" Bücher \u2014 \u65e5\u672c",
            "Author": "Zoë O'Brien",
            "Keywords": "alpha, beta, \"gamma\"",
            "Subject": "Line one\nLine two\rLine three"}
    save("text3.pdf", build([text_page(i) for i in range(1, 4)], info))
    save("pages20.pdf", build([text_page(i) for i in range(1, 21)]))
    # Long enough that every worker reopens the document during a run.
    save("pages100.pdf", build([text_page(i) if i % 7 else image_page(i) for i in range(1, 101)]))
    save("images.pdf", build([image_page(1), image_page(2)]))
    save("landscape.pdf", build([text_page(1, (A4[1], A4[0]))]))
    save("square.pdf", build([text_page(1, (500, 500))]))
    save("rotated.pdf", build([text_page(1, A4, rotate=90)]))
    save("letter.pdf", build([text_page(1, (612, 792))]))
    # Text over a picture: the split must keep the picture in the background and the
    # letters in the foreground.
    mixed = image_page(1, light=True)
    mixed.text(60, 700, "FOREGROUND TEXT OVER AN IMAGE", 28, bold=True)
    mixed.line(60, 690, 500, 690, 0.8)
    mixed.rect(60, 600, 440, 1.2, fill=(0, 0, 0))  # a rule drawn as a filled rectangle
    mixed.rect(60, 500, 440, 30, fill=(0.1, 0.1, 0.1))  # a thick bar stays in the picture
    save("mixed.pdf", build([mixed]))
    save("encrypted.pdf", build([text_page(1)], user_password="secret", owner_password="owner"))
    save("owner-only.pdf", build([text_page(1)], owner_password="owner"))
    save("zero-pages.pdf", build([]))
    whole = build([text_page(i) for i in range(1, 4)], info)
    save("truncated-head.pdf", whole[:120])
    save("truncated-tail.pdf", whole[:int(len(whole) * 0.7)])
    save("not-a-pdf.pdf", b"This is a plain text file, not a PDF document.\n" * 20)
    special = Page(A4[0], A4[1])
    special.text(50, 780, "Tags <b>&amp; \"quotes\" 'single' </script> caf\u00e9 \u00bd", 12)
    special.text(50, 760, "Second line with a backslash \\ and a dollar $", 12)
    save("special-text.pdf", build([special]))
    # Metadata far longer than any caller keeps.
    save("long-meta.pdf", build([text_page(1)], {"Title": "T\u00e9" * 3000, "Author": "A" * 5000,
                                                 "Keywords": "k" * 5000, "Subject": "\u00df" * 5000}))
    # The middle page is far above the pixel cap at any usual resolution: it is drawn
    # smaller, at the largest size under the cap.
    save("huge-page.pdf", build([text_page(1), text_page(2, (14400, 14400)), text_page(3)]))
    save("huge-single.pdf", build([text_page(1, (14400, 14400))]))
    # A long strip: under the pixel count at 360 dpi, but not under the longest side.
    save("strip.pdf", build([text_page(1, (14400, 100), words="A strip of a page.")]))
    # The damage tests cut up copies of this one.
    save("pages6.pdf", build([text_page(i) for i in range(1, 7)]))
    # The middle page would take hours: the page time limit must stop it.
    bomb = text_page(2)
    bomb.form_depth = 9
    bomb.ops += b"q 50 0 0 50 50 50 cm /Nest Do Q\n"
    save("slow-page.pdf", build([text_page(1), bomb, text_page(3)]))
    # Links, outline, page labels, a right-to-left preference and several scripts, with
    # the layout the engine must find beside it.
    navigation.save_fixture(outdir, Page, build)


SECTIONS = [
    ("Why paper still matters",
     ["Paper remains the most forgiving medium for reading long documents. It needs no "
      "battery, shows no notifications, and lets the eye move freely between a heading, a "
      "figure and the margin note that explains it.",
      "A flip book keeps that experience on a screen: the reader sees two facing pages, turns "
      "them with a gesture, and still finds every word through the search box."]),
    ("From a document to a book",
     ["A conversion takes one PDF file and produces a folder of images, a page that shows "
      "them, and the text of every page for searching. Each page is drawn at several sizes so "
      "that a phone and a large monitor both get sharp pictures without waste.",
      "The background of a page goes into a compact photograph-like image, while the letters "
      "are kept in a separate crisp layer laid exactly on top."]),
    ("Choosing a resolution",
     ["Resolution is measured in dots per inch. A page of A4 paper is about 8.27 inches wide, "
      "so at 96 dots per inch it becomes an image close to 794 pixels across.",
      "Higher resolutions give finer detail at the cost of larger files and longer "
      "conversions; the zoom images use the highest one, the thumbnails the lowest."]),
    ("Quality and file size",
     ["JPEG compression discards detail that the eye hardly notices. Its quality setting "
      "trades size against fidelity: at 25 a photograph still looks natural, but small text "
      "grows soft halos around every stroke.",
      "Separating the text from the picture avoids that compromise. The picture can be "
      "compressed hard, and the text stays exact."]),
    ("Reading order and search",
     ["Text is extracted in reading order, block by block and line by line. Ligatures are "
      "split into their letters so that a search for office finds the word however the font "
      "happened to draw it.",
      "The search text travels with the book as a small script file, so it works even when the "
      "book is opened straight from a disk without a web server."]),
    ("Thumbnails and the cover",
     ["The cover image is small and made once; the thumbnails give an overview of the whole "
      "book in a strip along the bottom of the viewer.",
      "Both are plain JPEG images, named after their page numbers so that the viewer can find "
      "them without a list."]),
    ("Printing a book",
     ["Readers who prefer paper can print any page. The print images are made at a moderate "
      "resolution with a generous quality setting, which suits office printers well."]),
    ("Publishing",
     ["A finished book can stay on the local disk, be copied to another folder, or be sent to "
      "a web server. Every file keeps its name, so a book can be moved without breaking it.",
      "Uploads resume after an interruption and retry with growing pauses when a server is "
      "busy."]),
    ("Working in parallel",
     ["Pages are independent of each other, so they are drawn on all processor cores at once. "
      "Memory stays flat because each page is written and forgotten before the next one "
      "starts.",
      "Progress is reported after every page, which lets the program show a moving bar even "
      "for very long documents."]),
    ("Damaged documents",
     ["Real documents are not always well formed. A damaged page is reported and skipped, and "
      "the rest of the book is still made; a document that cannot be opened at all is "
      "reported in a single clear line."]),
    ("Measuring the results",
     ["Speed, size and fidelity are measured side by side on the same documents, never by "
      "timing a single run against a fixed number. Ratios travel well between machines; "
      "absolute times do not."]),
    ("Summary",
     ["A flip book is a folder of carefully sized images and a little text. Getting the sizes, "
      "the names and the layers right is what makes it fast to load and pleasant to read.",
      "The rest of this document is left for notes."]),
]


def figure(page, kind, x, y, w, h, seed):
    page.rect(x, y, w, h, stroke=(0.3, 0.3, 0.3), line_width=0.75)
    if kind == 0:  # bar chart
        values = [0.35, 0.7, 0.5, 0.9, 0.6, 0.8]
        bw = w / (len(values) * 1.6)
        for i, v in enumerate(values):
            shade = (0.2 + 0.1 * i, 0.45, 0.75 - 0.08 * i)
            page.rect(x + 12 + i * bw * 1.6, y + 12, bw, (h - 30) * v, fill=shade)
        page.line(x + 8, y + 12, x + w - 8, y + 12, 0.6)
    elif kind == 1:  # picture
        page.image("Im%d" % seed, x + 6, y + 6, w - 12, h - 12, 80, 48, gradient_image(80, 48, seed))
    else:  # circles
        for i in range(5):
            page.circle(x + w * (0.15 + 0.17 * i), y + h / 2, h * 0.3 * (0.5 + 0.1 * i),
                        (0.9 - 0.15 * i, 0.5, 0.2 + 0.15 * i))


def sample(path, page_count=len(SECTIONS)):
    pages = []
    margin = 64
    width = A4[0] - 2 * margin
    for number in range(1, page_count + 1):
        heading, paragraphs = SECTIONS[(number - 1) % len(SECTIONS)]
        page = Page(*A4)
        page.text(margin, A4[1] - 50, "Vellumark sample book", 9, color=(0.4, 0.4, 0.4))
        page.line(margin, A4[1] - 56, A4[0] - margin, A4[1] - 56, 0.5, (0.6, 0.6, 0.6))
        page.text(margin, A4[1] - 100, "%d. %s" % (number, heading), 22, bold=True)
        y = A4[1] - 135
        for p in paragraphs:
            y = page.paragraph(margin, y, width, p, 11.5) - 10
        if number % 3 == 1:
            figure(page, (number // 3) % 3, margin, y - 230, width, 200, number)
            page.text(margin, y - 250, "Figure %d. An illustration for section %d." % (number, number),
                      9, color=(0.3, 0.3, 0.3))
            y -= 280
        for p in paragraphs:
            y = page.paragraph(margin, y, width, p, 11.5) - 10
            if y < 100:
                break
        page.text(A4[0] / 2 - 5, 40, str(number), 9)
        pages.append(page)
    info = {"Title": "Vellumark sample book", "Author": "Vellumark",
            "Subject": "A short sample document for trying the conversion",
            "Keywords": "flip book, sample, conversion"}
    with open(path, "wb") as f:
        f.write(build(pages, info))


def main(argv):
    if len(argv) not in (3, 4) or argv[1] not in ("fixtures", "sample") or \
            (len(argv) == 4 and (argv[1] != "sample" or not argv[3].isdigit())):
        sys.stderr.write(__doc__)
        return 2
    if argv[1] == "fixtures":
        fixtures(argv[2])
    else:
        sample(argv[2], int(argv[3]) if len(argv) == 4 else len(SECTIONS))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
