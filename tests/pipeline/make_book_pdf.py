#!/usr/bin/env python3
"""Makes a multi-page PDF that looks like a book: a heading and text lines per page,
coloured boxes, an RGB picture and thin rules, and the document information (title,
keywords, subject). Used by the end-to-end tests and the pipeline benchmark.

    make_book_pdf.py OUT.pdf [--pages N] [--title T] [--landscape] [--points W H] [--changed-page N]

--changed-page N gives page N another heading, as a corrected edition would.
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pdfgen"))
from pdfwriter import Name, PdfWriter, Stream  # noqa: E402

WORDS = ("the quick brown fox jumps over a lazy dog while pages turn softly in the "
         "reader's hands and every line keeps its place on the printed sheet").split()


def picture(w, h, seed):
    data = bytearray()
    for y in range(h):
        for x in range(w):
            data += bytes(((x * 255 // w + seed * 40) % 256, (y * 255 // h) % 256, (x + y + seed * 17) % 256))
    return bytes(data)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--pages", type=int, default=6)
    parser.add_argument("--title", default="Vellumark Test Book")
    parser.add_argument("--landscape", action="store_true")
    parser.add_argument("--points", type=int, nargs=2, metavar=("W", "H"), help="page size in points")
    parser.add_argument("--changed-page", type=int, default=0)
    args = parser.parse_args()

    width, height = (792, 612) if args.landscape else (612, 792)
    if args.points:
        width, height = args.points
    pdf = PdfWriter()
    font = pdf.add({"Type": Name("Font"), "Subtype": Name("Type1"), "BaseFont": Name("Helvetica")})
    pages_ref = pdf.reserve()
    kids = []
    for n in range(1, args.pages + 1):
        image = pdf.add(Stream({"Type": Name("XObject"), "Subtype": Name("Image"), "Width": 64, "Height": 48,
                                "ColorSpace": Name("DeviceRGB"), "BitsPerComponent": 8}, picture(64, 48, n)))
        ops = []
        ops.append("0.95 0.92 0.85 rg 0 0 %d %d re f" % (width, height))
        ops.append("%.2f 0.4 0.6 rg 60 %d 200 120 re f" % ((n % 5) / 5.0, height - 330))
        ops.append("q 160 0 0 120 300 %d cm /Im1 Do Q" % (height - 330))
        ops.append("0 0 0 RG 0.5 w 50 %d m %d %d l S" % (height - 90, width - 50, height - 90))
        heading = "Chapter %d, corrected" % n if n == args.changed_page else "Chapter %d" % n
        ops.append("BT /F1 22 Tf 0 0 0 rg 50 %d Td (%s) Tj ET" % (height - 80, heading))
        y = height - 360
        line = 0
        while y > 60:
            words = [WORDS[(n * 7 + line * 3 + i) % len(WORDS)] for i in range(11)]
            ops.append("BT /F1 11 Tf 50 %d Td (%s) Tj ET" % (y, " ".join(words)))
            y -= 16
            line += 1
        ops.append("BT /F1 9 Tf %d 30 Td (%d) Tj ET" % (width // 2, n))
        content = pdf.add(Stream({}, "\n".join(ops).encode("latin-1")))
        kids.append(pdf.add({"Type": Name("Page"), "Parent": pages_ref, "MediaBox": [0, 0, width, height],
                             "Resources": {"Font": {"F1": font}, "XObject": {"Im1": image}},
                             "Contents": content}))
    pdf.set(pages_ref, {"Type": Name("Pages"), "Kids": kids, "Count": len(kids)})
    catalog = pdf.add({"Type": Name("Catalog"), "Pages": pages_ref})
    info = pdf.add({"Title": args.title, "Keywords": "flip book, test", "Subject": "A generated test book"})
    with open(args.out, "wb") as f:
        f.write(pdf.tobytes(catalog, info))


if __name__ == "__main__":
    main()
