#!/usr/bin/env python3
"""Engine benchmark: speed against pdftoppm and mutool draw, quality per byte of the
background/foreground pairs, and peak memory against the page count. Run through
bench/engine/run.sh, which builds the programs first.

  bench.py --bin DIR --out DIR [--pages N] [--mem-pages M] [--reps R] [--dpi D] [--only KIND]
           [--plain-jpeg-only]

Times are wall-clock seconds of whole program runs, measured side by side: every
repetition runs our command and the peer's command one after the other, and the table
gives the median over the repetitions. CPU seconds (user + system, children included)
are given next to them because they are less disturbed by other load on the machine.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# The default job (configuration defaults): dpi 120, page images at quality 25 with
# smoothing 100, boxes LowRes 480x500, MedRes 580x650, HighRes 680x750, cover 128 and
# thumbnails 60 pixels wide, print at 108 dpi quality 70.
DPI = 120
PREVIEW_Q, PREVIEW_S = 25, 100
ZOOM_Q, ZOOM_S = 25, 100
BOXES = {"high": (680, 750), "medium": (580, 650), "low": (480, 500)}


def log(msg):
    sys.stdout.write(msg + "\n")
    sys.stdout.flush()


def run_timed(argv, env=None, stdout=subprocess.DEVNULL):
    """Wall seconds and CPU seconds of one child run; raises when it fails."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    t0 = time.monotonic()
    proc = subprocess.run(argv, env=env, stdout=stdout, stderr=subprocess.PIPE)
    wall = time.monotonic() - t0
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if proc.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(argv), proc.returncode, proc.stderr[-500:]))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def page_size(rastrix, pdf, dpi):
    out = subprocess.run([rastrix, "-r", str(dpi), "-i", pdf], capture_output=True, text=True, check=True)
    lines = out.stdout.split("\n")
    return int(lines[4]), int(lines[5]), int(lines[6])


def default_job(rastrix, pdf, work, dpi):
    """The seven image runs of a default job, in the worker's order, as (name, our argv,
    [peer argv...], folder, kind, resolution)."""
    pages, width, height = page_size(rastrix, pdf, dpi)
    portrait = width < height

    def res(box):
        return box[1] * dpi // height if portrait else box[0] * dpi // width

    def bf(name, n, q, s, tiles=False):
        d = os.path.join(work, "ours", name)
        ours = [rastrix, "-r", str(n), "-verbose", "-o", "none", "-jpeg-quality", str(q),
                "-jpeg-smoothing-factor", str(s), "-png-single-bit-alpha", "-bf"]
        if tiles:
            # The zoom run also cuts the sharp zoom's tiles, as the pipeline asks for them.
            ours += ["-tile-r", str(tile_resolution(n, width)), "-tile-dir", os.path.join(d, "tiles")]
        ours += ["-d", d, pdf]
        p = os.path.join(work, "peer", name)
        peer = [["pdftoppm", "-r", str(n), "-jpeg", "-jpegopt", "quality=%d" % q, pdf, p + "/img"],
                ["pdftoppm", "-r", str(n), "-png", pdf, p + "/img"]]
        return (name, ours, peer, d, "bf", n)

    def jpeg(name, n, q, s, extra=(), peer_extra=()):
        d = os.path.join(work, "ours", name)
        ours = [rastrix, "-r", str(n)] + list(extra) + ["-o", "none"]
        if q is not None:
            ours += ["-jpeg-quality", str(q)]
        ours += ["-jpeg-smoothing-factor", str(s), "-e", "jpeg", "-d", d, pdf]
        p = os.path.join(work, "peer", name)
        peer = [["pdftoppm", "-r", str(n)] + list(peer_extra) +
                ["-jpeg", "-jpegopt", "quality=%d" % (q or 75), pdf, p + "/img"]]
        return (name, ours, peer, d, "jpeg", n)

    cover = jpeg("cover", 128 * dpi // width, 75, 0, ["-page", "1", "-postfix", "-cover"], ["-f", "1", "-l", "1"])
    # Our cover run's options come in the caller's order.
    cover[1][:] = [rastrix, "-r", str(128 * dpi // width), "-o", "none", "-page", "1", "-postfix", "-cover",
                   "-jpeg-quality", "75", "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", cover[3], pdf]
    thumbs = jpeg("thumbs", 60 * dpi // width, None, 0, ["-verbose"])
    runs = [cover, thumbs, bf("zoom", dpi, ZOOM_Q, ZOOM_S, tiles=True),
            bf("high", res(BOXES["high"]), PREVIEW_Q, PREVIEW_S),
            bf("medium", res(BOXES["medium"]), PREVIEW_Q, PREVIEW_S),
            bf("low", res(BOXES["low"]), PREVIEW_Q, PREVIEW_S),
            jpeg("print", 108, 70, 0, ["-verbose"])]
    return pages, width, height, runs


def tile_resolution(dpi, width):
    """The tiles' resolution for pages `width` pixels wide at `dpi`: 2048 pixels across the
    page, at least one and a half times `dpi` (pipeline/EngineCommand.cpp)."""
    return min(2400, max(-(-2048 * dpi // width), -(-3 * dpi // 2)))


def fresh(*folders):
    for f in folders:
        shutil.rmtree(f, ignore_errors=True)
        os.makedirs(f)


def folder_bytes(folder):
    return sum(os.path.getsize(os.path.join(root, n)) for root, _, names in os.walk(folder) for n in names)


def speed(args, pdf, work, threads):
    """Our seven runs against pdftoppm writing the same pages. Two peers: the JPEG and the
    PNG of every page for the runs with two layers (the files a layered book needs), and
    the plain JPEG peer, which writes only the JPEG of every page of every run."""
    pages, width, height, runs = default_job(args.rastrix, pdf, work, args.dpi)
    env = dict(os.environ, RASTRIX_THREADS=str(threads))
    log("\n## Speed on %s: the seven image runs of a default job, %d pages of %dx%d px at %d dpi, "
        "%d threads for us, pdftoppm single-threaded as it is; median of %d" %
        (os.path.basename(pdf), pages, width, height, args.dpi, threads, args.reps))
    keys = ["ours", "peer", "jpeg", "ours_cpu", "peer_cpu", "jpeg_cpu"]
    per_run = {r[0]: {k: [] for k in keys} for r in runs}
    totals = {k: [] for k in keys}
    for rep in range(args.reps):
        tot = dict.fromkeys(keys, 0.0)
        for name, ours, peer, folder, kind, n in runs:
            fresh(folder, os.path.join(work, "peer", name))
            times = {}
            times["ours"], times["ours_cpu"] = run_timed(ours, env)
            times["peer"] = times["peer_cpu"] = 0.0
            for i, argv in enumerate(peer[:1] if args.plain_jpeg_only else peer):
                w, c = run_timed(argv)
                times["peer"] += w
                times["peer_cpu"] += c
                if i == 0:   # the JPEG pages
                    times["jpeg"], times["jpeg_cpu"] = w, c
            for k in keys:
                per_run[name][k].append(times[k])
                tot[k] += times[k]
        for k in keys:
            totals[k].append(tot[k])
        log("  repetition %d: ours %.2f s, pdftoppm %.2f s, of which JPEG %.2f s" %
            (rep + 1, tot["ours"], tot["peer"], tot["jpeg"]))
    med = statistics.median
    log("| run | -r | ours wall s | pdftoppm wall s | ratio | pdftoppm JPEG only wall s | ratio | "
        "ours CPU s | pdftoppm CPU s | CPU ratio | JPEG only CPU s | CPU ratio | our bytes | pdftoppm bytes |")
    log("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    book_bytes = 0
    for name, ours, peer, folder, kind, n in runs:
        r = {k: med(v) for k, v in per_run[name].items()}
        ob = folder_bytes(folder)
        book_bytes += ob
        pb = folder_bytes(os.path.join(work, "peer", name))
        log("| %s | %d | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f | %d | %d |" % (
            name, n, r["ours"], r["peer"], r["ours"] / r["peer"], r["jpeg"], r["ours"] / r["jpeg"],
            r["ours_cpu"], r["peer_cpu"], r["ours_cpu"] / r["peer_cpu"], r["jpeg_cpu"],
            r["ours_cpu"] / r["jpeg_cpu"], ob, pb))
    t = {k: med(v) for k, v in totals.items()}
    ratio = t["ours"] / t["peer"]
    plain = t["ours"] / t["jpeg"]
    log("| **all seven** | | %.2f | %.2f | **%.2f** | %.2f | **%.2f** | %.2f | %.2f | %.2f | %.2f | %.2f | %d | |" % (
        t["ours"], t["peer"], ratio, t["jpeg"], plain, t["ours_cpu"], t["peer_cpu"],
        t["ours_cpu"] / t["peer_cpu"], t["jpeg_cpu"], t["ours_cpu"] / t["jpeg_cpu"], book_bytes))
    if not args.plain_jpeg_only:
        log("Goal: at most 0.50 of pdftoppm's wall time -> %s (%.2f)" % ("MET" if ratio <= 0.5 else "MISSED", ratio))
    log("Goal: at most 1.00 of the plain JPEG peer's wall time -> %s (%.2f)" %
        ("MET" if plain <= 1.0 else "MISSED", plain))
    log("Book bytes (all seven runs): %d" % book_bytes)
    return runs


def zoom_vs_mutool(args, pdf, work, threads):
    """The zoom run draws every page twice: the zoom images at the job's dpi and the text
    layer again at the tiles' resolution. The peer is timed drawing both resolutions (the
    same pixels, the goal) and the job's dpi alone; our run without tiles is shown too."""
    _, width, _, runs = default_job(args.rastrix, pdf, work, args.dpi)
    zoom = [r for r in runs if r[0] == "zoom"][0]
    tile_dpi = tile_resolution(args.dpi, width)
    plain = list(zoom[1])
    cut = plain.index("-tile-r")
    del plain[cut:cut + 4]
    env = dict(os.environ, RASTRIX_THREADS=str(threads))
    peer_dir = os.path.join(work, "mutool")

    def mutool(dpi):
        return ["mutool", "draw", "-q", "-r", str(dpi), "-T", str(threads), "-B", "256",
                "-o", os.path.join(peer_dir, "img-%d-" + str(dpi) + ".pnm"), pdf]
    times = {k: ([], []) for k in ("ours", "plain", "peer", "peer_tiles")}
    for rep in range(args.reps):
        for key, argv, e in (("ours", zoom[1], env), ("plain", plain, env), ("peer", mutool(args.dpi), None),
                             ("peer_tiles", mutool(tile_dpi), None)):
            fresh(zoom[3], peer_dir)
            w, c = run_timed(argv, e)
            times[key][0].append(w)
            times[key][1].append(c)
            if key == "ours":
                ours_bytes = folder_bytes(zoom[3])
    med = statistics.median
    wall = {k: med(v[0]) for k, v in times.items()}
    cpu = {k: med(v[1]) for k, v in times.items()}
    both_w, both_c = wall["peer"] + wall["peer_tiles"], cpu["peer"] + cpu["peer_tiles"]
    log("\n## Zoom run alone on %s against mutool draw (%d dpi and the tiles' %d dpi, %d threads each, PNM), "
        "median of %d" % (os.path.basename(pdf), args.dpi, tile_dpi, threads, args.reps))
    log("| | wall s | CPU s |")
    log("|---|---|---|")
    log("| ours (-bf: JPEG q%d + PNG, and the tiles; %d bytes) | %.2f | %.2f |" % (ZOOM_Q, ours_bytes, wall["ours"],
                                                                                cpu["ours"]))
    log("| ours without the tiles | %.2f | %.2f |" % (wall["plain"], cpu["plain"]))
    log("| mutool draw at %d dpi | %.2f | %.2f |" % (args.dpi, wall["peer"], cpu["peer"]))
    log("| mutool draw at %d dpi | %.2f | %.2f |" % (tile_dpi, wall["peer_tiles"], cpu["peer_tiles"]))
    ratio = wall["ours"] / both_w
    log("Goal: at most 2.50 of mutool's wall time for the same pixels (both resolutions) -> %s (%.2f; CPU ratio %.2f)"
        % ("MET" if ratio <= 2.5 else "MISSED", ratio, cpu["ours"] / both_c))
    log("Against mutool at %d dpi alone: %.2f with the tiles, %.2f without" % (
        args.dpi, wall["ours"] / wall["peer"], wall["plain"] / wall["peer"]))
    shutil.rmtree(peer_dir, ignore_errors=True)


def text_only_pages(count, limit):
    # Pages of the benchmark document without a figure (every third) or a box (every fifth).
    return [n for n in range(1, count + 1) if n % 3 and n % 5][:limit]


def quality(args, pdf, work, runs, pages):
    log("\n## Quality per byte: -bf runs at quality %d (smoothing %d) on text-only pages %s" %
        (PREVIEW_Q, PREVIEW_S, ",".join(map(str, pages))))
    log("Error of the image against a lossless render of the same page at the same size, over RGB:")
    log("mean absolute error (MAE, 0..255) and PSNR; sums of bytes and means of errors over the pages.")
    log("Plain JPEG: the whole page at quality %d; equal bytes: the lowest quality whose plain JPEG is at" % PREVIEW_Q)
    log("least as large as our pair (smoothing 0, same encoder).")
    log("| run | -r | pair bytes | pair MAE | pair PSNR | plain q%d bytes | MAE | PSNR | equal-bytes q | bytes | MAE | PSNR |" % PREVIEW_Q)
    log("|---|---|---|---|---|---|---|---|---|---|---|---|")
    met = True
    for name, ours, peer, folder, kind, n in runs:
        if kind != "bf":
            continue
        rows = {"layers": [], "plain": [], "equal": []}
        for p in pages:
            out = subprocess.run([args.probe, pdf, str(p), str(n), os.path.join(folder, "img-%d.jpg" % p),
                                  os.path.join(folder, "img-%d-f.png" % p), str(PREVIEW_Q)],
                                 capture_output=True, text=True, check=True).stdout
            for line in out.strip().split("\n"):
                kind_, q, b, mae, psnr = line.split()
                rows[kind_].append((int(q), int(b), float(mae), float(psnr)))

        def agg(r):
            return (sum(x[1] for x in r), statistics.mean(x[2] for x in r), statistics.mean(x[3] for x in r))
        lb, lm, lp = agg(rows["layers"])
        pb, pm, pp = agg(rows["plain"])
        eb, em, ep = agg(rows["equal"])
        qs = sorted({x[0] for x in rows["equal"]})
        log("| %s | %d | %d | %.2f | %.2f | %d | %.2f | %.2f | %s | %d | %.2f | %.2f |" % (
            name, n, lb, lm, lp, pb, pm, pp, "%d-%d" % (qs[0], qs[-1]) if len(qs) > 1 else qs[0], eb, em, ep))
        met = met and all(l[2] < e[2] for l, e in zip(rows["layers"], rows["equal"]))
    log("Goal: less error than the plain JPEG of equal bytes -> %s (per page, MAE)" % ("MET" if met else "MISSED"))


def peak_rss_kb(argv, env):
    out = subprocess.run(["/usr/bin/time", "-f", "%M"] + argv, env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    if out.returncode != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(argv), out.stderr[-500:]))
    return int(out.stderr.strip().split("\n")[-1])


def memory(args, pdfs, work, threads):
    """Peak memory of the image runs on documents of growing length (pdfs: [(path, pages)]).
    Flat means the longest document needs no more than the middle one, within the noise of
    a peak resident size (1 MB or 2 %)."""
    env = dict(os.environ, RASTRIX_THREADS=str(threads))
    log("\n## Memory: peak resident set (/usr/bin/time 'Maximum resident set size'), %d threads" % threads)
    log("| run | " + " | ".join("%d pages MB" % n for _, n in pdfs) + " | KB per added page, each step |")
    log("|---|" + "---|" * len(pdfs) + "---|")
    worst = 0.0
    flat = True
    d = os.path.join(work, "mem")
    runs = [
        ("zoom (-bf with tiles, %d dpi)" % args.dpi, True,
         lambda pdf: [args.rastrix, "-r", str(args.dpi), "-verbose", "-o", "none", "-jpeg-quality", "25",
                      "-jpeg-smoothing-factor", "100", "-png-single-bit-alpha", "-bf", "-tile-r",
                      str(tile_resolution(args.dpi, page_size(args.rastrix, pdf, args.dpi)[1])), "-tile-dir",
                      os.path.join(d, "tiles"), "-d", d, pdf]),
        ("print (-e jpeg, 108 dpi)", True,
         lambda pdf: [args.rastrix, "-r", "108", "-verbose", "-o", "none", "-jpeg-quality", "70",
                      "-jpeg-smoothing-factor", "0", "-e", "jpeg", "-d", d, pdf]),
        # The search run holds the text of every page until it writes the files that
        # contain all of it: it grows with the amount of text by its nature.
        ("search (-o all; holds all text, not judged)", False,
         lambda pdf: [args.rastrix, "-o", "all", "-output-dir", d, "-r", str(args.dpi), "-title", "Benchmark",
                      "-page-count", "100000", pdf]),
    ]
    for name, judged, make in runs:
        vals = []
        for pdf, _ in pdfs:
            fresh(d)
            vals.append(peak_rss_kb(make(pdf), env) / 1024.0)
        steps = ["%.1f" % ((vals[i + 1] - vals[i]) * 1024.0 / (pdfs[i + 1][1] - pdfs[i][1]))
                 for i in range(len(vals) - 1)]
        if judged:
            worst = max(worst, *vals)
            flat = flat and vals[-1] - vals[-2] <= max(1.0, 0.02 * vals[-2])
        log("| %s | %s | %s |" % (name, " | ".join("%.1f" % v for v in vals), ", ".join(steps)))
    shutil.rmtree(d, ignore_errors=True)
    log("Goal: no growth with the page count, under 300 MB -> under 300 MB: %s (largest %.1f MB); "
        "flat from %d to %d pages: %s" % ("MET" if worst < 300 else "MISSED", worst, pdfs[-2][1], pdfs[-1][1],
                                         "MET" if flat else "MISSED"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--pages", type=int, default=100)
    ap.add_argument("--mem-pages", type=int, default=500)
    ap.add_argument("--reps", type=int, default=3)
    ap.add_argument("--dpi", type=int, default=DPI)
    ap.add_argument("--threads", type=int, default=os.cpu_count() or 1)
    ap.add_argument("--only", choices=["speed", "mutool", "quality", "memory"], action="append")
    ap.add_argument("--plain-jpeg-only", action="store_true",
                    help="time pdftoppm's JPEG pages only (the PNG pages of the layered runs take it long)")
    args = ap.parse_args()
    args.rastrix = os.path.join(args.bin, "rastrix")
    args.probe = os.path.join(args.bin, "rastrix_quality_probe")
    only = set(args.only or ["speed", "mutool", "quality", "memory"])

    os.makedirs(args.out, exist_ok=True)
    work = os.path.join(args.out, "work")
    pdf = os.path.join(args.out, "bench-%d.pdf" % args.pages)
    figures_pdf = os.path.join(args.out, "figures-%d.pdf" % args.pages)
    # Memory: the benchmark document, one of --mem-pages and one of twice as many pages.
    mem_pdfs = [(os.path.join(args.out, "bench-%d.pdf" % n), n)
                for n in (args.pages, args.mem_pages, 2 * args.mem_pages)]
    for path, n in [(pdf, args.pages)] + (mem_pdfs if "memory" in only else []):
        if not os.path.exists(path):
            subprocess.run([sys.executable, os.path.join(HERE, "make_bench_pdf.py"), str(n), path], check=True)
    if only & {"speed", "mutool"} and not os.path.exists(figures_pdf):
        subprocess.run([sys.executable, os.path.join(HERE, "make_bench_pdf.py"), str(args.pages), figures_pdf,
                        "--figures"], check=True)
    log("# Engine benchmark, %s" % time.strftime("%Y-%m-%d %H:%M:%S %Z"))
    log("Document: %s, %d pages of A4, text in two columns on every page (about 650 words), a figure on every" % (
        os.path.basename(pdf), args.pages))
    log("third page (bar chart, RGB picture or circles), a shaded box on every fifth (bench/engine/make_bench_pdf.py).")
    log("Figure-heavy document (speed and zoom only): %s, the same number of pages in the manner of a manual: a" %
        os.path.basename(figures_pdf))
    log("screenshot with coloured call-outs over it, a diagram of thin boxes and connectors, a column of text, a")
    log("shaded note on every page and a chart, picture or circles on every other page.")
    log("Machine: %d cores, load average %.1f at start." % (os.cpu_count() or 0, os.getloadavg()[0]))

    runs = None
    if "speed" in only or "quality" in only:
        if "speed" in only:
            runs = speed(args, pdf, work, args.threads)
        else:
            _, _, _, runs = default_job(args.rastrix, pdf, work, args.dpi)
            env = dict(os.environ, RASTRIX_THREADS=str(args.threads))
            for r in runs:
                if r[4] == "bf":
                    fresh(r[3])
                    run_timed(r[1], env)
    if "quality" in only:
        quality(args, pdf, work, runs, text_only_pages(args.pages, 6))
    if "speed" in only:
        speed(args, figures_pdf, work, args.threads)
    if "mutool" in only:
        zoom_vs_mutool(args, pdf, work, args.threads)
        zoom_vs_mutool(args, figures_pdf, work, args.threads)
    if "memory" in only:
        memory(args, mem_pdfs, work, args.threads)
    log("\nLoad average at the end: %.1f" % os.getloadavg()[0])
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
