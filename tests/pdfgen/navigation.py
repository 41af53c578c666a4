"""Links, outline, page labels, reading direction and text in several scripts, for the
engine's layout tests. save_fixture writes navigation.pdf and, beside it,
navigation.expected.json: what the engine must find in it (word boxes in points from
the page's top left corner)."""

import json
import os

from pdfwriter import Name, Stream

# Every glyph of the test font advances 600/1000 of the font size; ascent and descent
# bound each glyph's box vertically.
ADVANCE = 0.6
ASCENT = 0.8
DESCENT = -0.2
PAGE = (595.0, 842.0)


def unicode_font(w):
    """A composite font whose codes are the characters' Unicode values (BMP), with a
    ToUnicode map, so any script can be written without embedding a font program."""
    sections = []
    ranges = ["<%02X00> <%02XFF> <%02X00>" % (hi, hi, hi) for hi in range(256) if not 0xD8 <= hi <= 0xDF]
    for i in range(0, len(ranges), 100):
        chunk = ranges[i:i + 100]
        sections.append("%d beginbfrange\n%s\nendbfrange" % (len(chunk), "\n".join(chunk)))
    cmap = ("/CIDInit /ProcSet findresource begin\n12 dict begin\nbegincmap\n"
            "/CIDSystemInfo << /Registry (Adobe) /Ordering (UCS) /Supplement 0 >> def\n"
            "/CMapName /Adobe-Identity-UCS def\n/CMapType 2 def\n"
            "1 begincodespacerange\n<0000> <FFFF>\nendcodespacerange\n%s\n"
            "endcmap\nCMapName currentdict /CMap defineresource pop\nend\nend\n" % "\n".join(sections))
    to_unicode = w.add(Stream({}, cmap.encode()))
    descriptor = w.add({"Type": Name("FontDescriptor"), "FontName": Name("VellumarkTestSans"), "Flags": 4,
                        "FontBBox": [0, int(DESCENT * 1000), int(ADVANCE * 1000), int(ASCENT * 1000)],
                        "ItalicAngle": 0, "Ascent": int(ASCENT * 1000), "Descent": int(DESCENT * 1000),
                        "CapHeight": 700, "StemV": 80})
    cid_font = w.add({"Type": Name("Font"), "Subtype": Name("CIDFontType2"),
                      "BaseFont": Name("VellumarkTestSans"),
                      "CIDSystemInfo": {"Registry": b"Adobe", "Ordering": b"Identity", "Supplement": 0},
                      "FontDescriptor": descriptor, "DW": int(ADVANCE * 1000), "CIDToGIDMap": Name("Identity")})
    return w.add({"Type": Name("Font"), "Subtype": Name("Type0"), "BaseFont": Name("VellumarkTestSans"),
                  "Encoding": Name("Identity-H"), "DescendantFonts": [cid_font], "ToUnicode": to_unicode})


def write_text(page, x, y, text, size):
    """Draws one line in the test font; returns its words as [text, x0, y0, x1, y1, size]
    with the box in points from the top left corner."""
    page.uses_unicode_font = True
    # A right-to-left word in a left-to-right line is stored as shown: its last letter first.
    shown = " ".join(part[::-1] if part and "\u0590" <= part[0] <= "\u08ff" else part for part in text.split(" "))
    codes = "".join("%04X" % ord(c) for c in shown)
    page.ops += b"BT /F3 %.2f Tf %.2f %.2f Td <%s> Tj ET\n" % (size, x, y, codes.encode())
    words, at = [], 0
    for part in text.split(" "):
        if part:
            x0 = x + ADVANCE * size * at
            words.append([part, x0, page.height - (y + ASCENT * size),
                          x0 + ADVANCE * size * len(part), page.height - (y + DESCENT * size), size])
        at += len(part) + 1
    return words


def write_rtl_text(page, right, y, words, size, as_shown):
    """Draws one right-to-left line ending at `right`: `words` in reading order, each of
    right-to-left letters or a number (which reads left to right). As most PDF writers
    do, `as_shown` stores the glyphs in the order they stand on the page, left to right;
    otherwise in reading order, each glyph placed on its own, stepping leftwards. Returns
    the words as write_text does."""
    page.uses_unicode_font = True
    advance = ADVANCE * size
    out, spots, x1 = [], [], right
    for i, word in enumerate(words):
        x0 = x1 - advance * len(word)
        out.append([word, x0, page.height - (y + ASCENT * size), x1, page.height - (y + DESCENT * size), size])
        number = word[0].isdigit()
        # (character, left edge) in reading order; a blank before every word but the first.
        if i:
            spots.append((" ", x1))
        spots += [(c, x0 + advance * j if number else x1 - advance * (j + 1)) for j, c in enumerate(word)]
        x1 = x0 - advance
    if as_shown:
        shown = "".join(c for c, _ in sorted(spots, key=lambda s: s[1]))
        codes = "".join("%04X" % ord(c) for c in shown)
        page.ops += b"BT /F3 %.2f Tf %.2f %.2f Td <%s> Tj ET\n" % (size, x1 + advance, y, codes.encode())
    else:
        page.ops += b"BT /F3 %.2f Tf\n" % size
        for c, x in spots:
            page.ops += b"1 0 0 1 %.2f %.2f Tm <%04X> Tj\n" % (x, y, ord(c))
        page.ops += b"ET\n"
    return out


def link_annotation(w, link, page_refs):
    x, y, width, height, target = link
    entries = {"Type": Name("Annot"), "Subtype": Name("Link"), "Rect": [x, y, x + width, y + height],
               "Border": [0, 0, 0]}
    if isinstance(target, int):
        entries["Dest"] = [page_refs[target], Name("XYZ"), None, None, None]
    else:
        entries["A"] = target
    return w.add(entries)


def uri(address):
    return {"S": Name("URI"), "URI": address.encode("latin-1")}


def outline(w, entries, page_refs):
    """entries: (title, target, level), target a page index or an action dictionary."""
    root = w.reserve()
    refs = [w.reserve() for _ in entries]
    children = {}
    for i in range(len(entries)):
        children.setdefault(parent_of(i, entries, refs, root).num, []).append(i)
    for i, (title, target, level) in enumerate(entries):
        item = {"Title": title, "Parent": parent_of(i, entries, refs, root)}
        if isinstance(target, int):
            item["Dest"] = [page_refs[target], Name("Fit")]
        else:
            item["A"] = target
        siblings = children[item["Parent"].num]
        at = siblings.index(i)
        if at > 0:
            item["Prev"] = refs[siblings[at - 1]]
        if at + 1 < len(siblings):
            item["Next"] = refs[siblings[at + 1]]
        kids = children.get(refs[i].num)
        if kids:
            item["First"], item["Last"], item["Count"] = refs[kids[0]], refs[kids[-1]], len(kids)
        w.set(refs[i], item)
    top = children[root.num]
    w.set(root, {"Type": Name("Outlines"), "First": refs[top[0]], "Last": refs[top[-1]], "Count": len(top)})
    return root


def parent_of(i, entries, refs, root):
    level = entries[i][2]
    for j in range(i - 1, -1, -1):
        if entries[j][2] == level - 1:
            return refs[j]
    return root


# Arabic "hello world 2024" and Hebrew "hello world", in reading order.
ARABIC_WORDS = ["\u0645\u0631\u062d\u0628\u0627", "\u0628\u0627\u0644\u0639\u0627\u0644\u0645", "2024"]
HEBREW_WORDS = ["\u05e9\u05dc\u05d5\u05dd", "\u05e2\u05d5\u05dc\u05dd"]
SCRIPTS_LINE = "Latin \u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \u0420\u0443\u0441\u0441\u043a\u0438\u0439 " \
               "\u0627\u0644\u0639\u0631\u0628\u064a\u0629 \u65e5\u672c\u8a9e"
LABELS = ["i", "ii", "iii", "1", "2", "A-3", "A-4", "A"]
OUTLINE = [("Front matter", 0, 1), ("Scripts", 1, 2), ("Chapter \u00e9t\u00e9 <one>", 3, 1),
           ("Section 1.1", 4, 2), ("Deep", 5, 3), ("Elsewhere", uri("https://example.org/"), 1),
           ("Appendix", 7, 1)]


def save_fixture(outdir, page_class, build):
    pages, expected_pages = [], []
    for index in range(len(LABELS)):
        page = page_class(*PAGE)
        words = write_text(page, 72, 760, "Page %d of the layout test" % (index + 1), 16)
        if index == 0:
            words += write_text(page, 72, 700, "Go to section one", 12)
            words += write_text(page, 72, 680, "web mail script file data launch", 12)
            page.links = [
                (70, 695, 110, 16, 4),
                (70, 675, 25, 16, uri("https://example.org/a?b=1&c=<2>")),
                (100, 675, 30, 16, uri("mailto:reader@example.org")),
                (130, 675, 45, 16, uri("javascript:alert(1)")),
                (180, 675, 30, 16, uri("file:///etc/passwd")),
                (215, 675, 30, 16, uri("data:text/html,<script>alert(1)</script>")),
                (250, 675, 45, 16, {"S": Name("Launch"), "F": b"/bin/sh"}),
                (300, 675, 45, 16, {"S": Name("JavaScript"), "JS": b"app.alert(1)"}),
            ]
            links = [[70, PAGE[1] - 711, 180, PAGE[1] - 695, 5],
                     [70, PAGE[1] - 691, 95, PAGE[1] - 675, "https://example.org/a?b=1&c=<2>"],
                     [100, PAGE[1] - 691, 130, PAGE[1] - 675, "mailto:reader@example.org"]]
        else:
            links = []
        if index == 1:
            words += write_text(page, 72, 700, SCRIPTS_LINE, 20)
            words += write_text(page, 72, 660, "second line", 20)
        if index == 2:
            words += write_rtl_text(page, 520, 700, ARABIC_WORDS, 20, as_shown=True)
            words += write_rtl_text(page, 520, 660, HEBREW_WORDS, 20, as_shown=False)
        if index == 6:
            page.links = [(72, 100, 100, 20, 0)]
            links = [[72, PAGE[1] - 120, 172, PAGE[1] - 100, 1]]
        pages.append(page)
        expected_pages.append({"w": PAGE[0], "h": PAGE[1], "label": LABELS[index], "words": words, "links": links})

    def catalog(w, page_refs):
        # The labels come in two leaves of a number tree.
        leaves = [{"Nums": [0, {"S": Name("r")}, 3, {"S": Name("D")}], "Limits": [0, 3]},
                  {"Nums": [5, {"S": Name("D"), "P": "A-", "St": 3}, 7, {"S": Name("A")}], "Limits": [5, 7]}]
        return {"Outlines": outline(w, OUTLINE, page_refs),
                "PageLabels": {"Kids": [w.add(leaf) for leaf in leaves]},
                "ViewerPreferences": {"Direction": Name("R2L")}}

    with open(os.path.join(outdir, "navigation.pdf"), "wb") as f:
        f.write(build(pages, {"Title": "Layout test"}, catalog=catalog))
    expected = {"direction": "rtl", "pageCount": len(pages),
                "outline": [{"title": t, "page": p + 1 if isinstance(p, int) else 0, "level": lv}
                            for t, p, lv in OUTLINE],
                "pages": expected_pages}
    with open(os.path.join(outdir, "navigation.expected.json"), "w", encoding="utf-8") as f:
        json.dump(expected, f, ensure_ascii=False, indent=1)
