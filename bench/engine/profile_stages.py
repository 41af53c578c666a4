#!/usr/bin/env python3
"""Shares of a rastrix run's CPU time per stage of a page, from a perf profile taken with
call graphs (see profile.sh). Reads `perf script -F comm,ip,sym,dso` on standard input.

  perf script -i perf.data -F comm,ip,sym,dso | profile_stages.py [SAMPLING_HZ]

With the sampling rate (perf record -F) the table also gives each stage's CPU seconds.

Each sample goes to the first stage whose rule matches its call chain: page faults first
(wherever they happen), then the page stages by the engine function on the chain.
"""

import collections
import sys

# (stage, test on the chain of (symbol, library) pairs, leaf first), in priority order.
STAGES = [
    ("page faults, memory release (kernel)",
     lambda c: any(s in ("asm_exc_page_fault", "exc_page_fault", "do_madvise", "__x64_sys_munmap") for s, _ in c)),
    ("PNG: deflate", lambda c: png(c) and ("libz" in c[0][1] or "libdeflate" in c[0][1])),
    ("PNG: filters, chunks, CRC", lambda c: png(c) and ("libpng" in c[0][1] or has(c, "FilterRow")
                                                        or has(c, "WriteChunk"))),
    ("PNG: palette scan and row packing", lambda c: png(c) or has(c, "PaletteImage::")),
    ("layer post-processing", lambda c: has(c, "FinishForegroundAlpha")),
    ("JPEG: smoothing and colour conversion before libjpeg", lambda c: has(c, "SmoothedRows::")),
    ("JPEG encoding", lambda c: has(c, "WriteJpeg") or "libjpeg" in c[0][1]),
    ("colour test of the background", lambda c: has(c, "TestBackgroundColour")),
    ("drawing the layers (MuPDF)", lambda c: has(c, "DrawLayer") or has(c, "fz_run_display_list")),
    ("reading the page into a list (MuPDF)", lambda c: has(c, "fz_run_page")),
    ("opening the document, loading pages", lambda c: has(c, "OpenPdf") or has(c, "fz_load_page")),
]


def has(chain, name):
    return any(name in s for s, _ in chain)


def png(chain):
    return has(chain, "WritePngRgba") or has(chain, "PngWriter::")


def samples(lines):
    chain = []
    for line in lines:
        line = line.rstrip("\n")
        if not line.strip():
            if chain:
                yield chain
            chain = []
            continue
        if not line.startswith(("\t", " ")):
            continue   # the sample's header line (command name)
        parts = line.strip().split(None, 1)
        if len(parts) < 2:
            continue
        rest = parts[1]
        sym, _, dso = rest.rpartition(" (")
        chain.append((sym, dso.rstrip(")")))
    if chain:
        yield chain


def main():
    counts = collections.Counter()
    total = 0
    for chain in samples(sys.stdin):
        total += 1
        for name, rule in STAGES:
            if rule(chain):
                counts[name] += 1
                break
        else:
            counts["other"] += 1
    hz = float(sys.argv[1]) if len(sys.argv) > 1 else 0.0
    print("| stage | samples | CPU s | share |")
    print("|---|---|---|---|")
    for name in [n for n, _ in STAGES] + ["other"]:
        print("| %s | %d | %s | %.1f %% |" % (name, counts[name], "%.2f" % (counts[name] / hz) if hz else "",
                                            100.0 * counts[name] / max(1, total)))
    print("| total | %d | %s | |" % (total, "%.2f" % (total / hz) if hz else ""))


if __name__ == "__main__":
    main()
