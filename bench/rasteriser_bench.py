#!/usr/bin/env python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""Times rastool against the PDF rasterisers of Debian's packages on the same documents.

Every tool is asked for the same work (same pages, resolution, pixel format, file format and
compression); where a tool cannot do that work the table says so instead of timing something
else. Runs are interleaved (run 1 of every tool, then run 2 of every tool, ...) so that a
change in machine load during the benchmark touches all tools alike. Each cell is the median
of the runs; peak memory is the largest resident size seen (/usr/bin/time %M).
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
from dataclasses import dataclass, field

from bench_support import install_missing, print_table, timed_run

LONG_DOC = "/usr/share/doc/asymptote/asymptote.pdf"
LONG_DOC_PACKAGE = "asymptote-doc"
# A page of the long document with a large filled colour figure and text.
HIRES_PAGE = 26
TOOL_PACKAGES = {
    "pdftoppm": "poppler-utils",
    "pdftocairo": "poppler-utils",
    "mutool": "mupdf-tools",
    "gs": "ghostscript",
    "/usr/bin/time": "time",
}
THREADS = os.cpu_count() or 1


def ensure_inputs():
    install_missing(TOOL_PACKAGES, {LONG_DOC: LONG_DOC_PACKAGE})


def page_count(pdf):
    out = subprocess.run(["pdfinfo", pdf], check=True, capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line.startswith("Pages:"):
            return int(line.split()[1])
    raise RuntimeError("pdfinfo gave no page count for " + pdf)


@dataclass
class Tool:
    name: str
    # argv with {out} for the output folder, or None when the tool cannot do the same work.
    argv: list = None
    why_not: str = ""


@dataclass
class Case:
    name: str
    what: str
    tools: list
    expected_files: int


@dataclass
class Result:
    times: list = field(default_factory=list)
    peak_kb: int = 0
    out_bytes: int = 0
    files: int = 0
    error: str = ""


def gs_argv(device, dpi, first, last, extra=()):
    return (["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=" + device,
             "-r" + dpi, "-dFirstPage=%d" % first, "-dLastPage=%d" % last,
             "-dNumRenderingThreads=%d" % THREADS] + list(extra) +
            ["-sOutputFile={out}/p%03d." + ("png" if device.startswith("png") else "tif"),
             LONG_DOC])


# Ghostscript does not anti-alias unless asked; everything else here does.
GS_AA = ["-dTextAlphaBits=4", "-dGraphicsAlphaBits=4"]
MUTOOL_THREADS = ["-T", str(THREADS), "-B", "256"]


def make_cases(rastool, pages, hires_pages):
    r = lambda *a: [rastool, "-i", LONG_DOC, "-o"] + list(a)
    span = ["-f", "1", "-l", str(pages)]
    hspan = ["-f", "1", "-l", str(hires_pages)]
    one = ["-f", str(HIRES_PAGE), "-l", str(HIRES_PAGE)]
    no_tiff_mutool = "this mutool has no TIFF writer"
    no_g4_poppler = "its TIFF writer has no CCITT G4 (none/packbits/jpeg/lzw/deflate only)"
    return [
        Case("png150", "24-bit PNG, 150 dpi, pages 1-%d" % pages, [
            Tool("rastool", r("{out}/p.png", "-r", "150x150", "-b", "24", *span)),
            Tool("pdftoppm", ["pdftoppm", "-r", "150", "-png", *span, LONG_DOC, "{out}/p"]),
            Tool("pdftocairo", ["pdftocairo", "-png", "-r", "150", *span, LONG_DOC, "{out}/p"]),
            Tool("mutool", ["mutool", "draw", "-q", "-r", "150", "-c", "rgb", *MUTOOL_THREADS,
                            "-o", "{out}/p%03d.png", LONG_DOC, "1-%d" % pages]),
            Tool("gs", gs_argv("png16m", "150", 1, pages, GS_AA)),
        ], pages),
        Case("tiff300lzw", "24-bit TIFF LZW, 300 dpi, pages 1-%d" % hires_pages, [
            Tool("rastool", r("{out}/p.tif", "-r", "300x300", "-b", "24", "-c", "lzw", *hspan)),
            Tool("pdftoppm", ["pdftoppm", "-r", "300", "-tiff", "-tiffcompression", "lzw",
                              *hspan, LONG_DOC, "{out}/p"]),
            Tool("pdftocairo", ["pdftocairo", "-r", "300", "-tiff", "-tiffcompression", "lzw",
                                *hspan, LONG_DOC, "{out}/p"]),
            Tool("mutool", why_not=no_tiff_mutool),
            Tool("gs", gs_argv("tiff24nc", "300", 1, hires_pages, GS_AA + ["-sCompression=lzw"])),
        ], hires_pages),
        Case("g4fax", "1-bit TIFF CCITT G4, 204x196 dpi, pages 1-%d" % pages, [
            Tool("rastool", r("{out}/p.tif", "-r", "204x196", "-b", "1", "-c", "g4", *span)),
            Tool("pdftoppm", why_not=no_g4_poppler),
            Tool("pdftocairo", why_not=no_g4_poppler),
            Tool("mutool", why_not=no_tiff_mutool),
            Tool("gs", gs_argv("tiffg4", "204x196", 1, pages)),
        ], pages),
        Case("grey101", "8-bit grey PNG, 101 dpi, pages 1-%d" % pages, [
            Tool("rastool", r("{out}/p.png", "-r", "101x101", "-b", "8", "-g", *span)),
            Tool("pdftoppm", ["pdftoppm", "-r", "101", "-gray", "-png", *span, LONG_DOC,
                              "{out}/p"]),
            Tool("pdftocairo", ["pdftocairo", "-r", "101", "-gray", "-png", *span, LONG_DOC,
                                "{out}/p"]),
            Tool("mutool", ["mutool", "draw", "-q", "-r", "101", "-c", "gray", *MUTOOL_THREADS,
                            "-o", "{out}/p%03d.png", LONG_DOC, "1-%d" % pages]),
            Tool("gs", gs_argv("pnggray", "101", 1, pages, GS_AA)),
        ], pages),
        Case("tiff1200", "24-bit TIFF PackBits, 1200 dpi, page %d" % HIRES_PAGE, [
            Tool("rastool", r("{out}/p.tif", "-r", "1200x1200", "-b", "24", "-c", "PACKBITS",
                              *one)),
            Tool("pdftoppm", ["pdftoppm", "-r", "1200", "-tiff", "-tiffcompression", "packbits",
                              "-singlefile", *one, LONG_DOC, "{out}/p"]),
            Tool("pdftocairo", ["pdftocairo", "-r", "1200", "-tiff", "-tiffcompression",
                                "packbits", "-singlefile", *one, LONG_DOC, "{out}/p"]),
            Tool("mutool", why_not=no_tiff_mutool),
            Tool("gs", gs_argv("tiff24nc", "1200", HIRES_PAGE, HIRES_PAGE,
                               GS_AA + ["-sCompression=pack"])),
        ], 1),
        Case("png1200", "24-bit PNG, 1200 dpi, page %d" % HIRES_PAGE, [
            Tool("rastool", r("{out}/p.png", "-r", "1200x1200", "-b", "24", *one)),
            Tool("pdftoppm", ["pdftoppm", "-r", "1200", "-png", "-singlefile", *one, LONG_DOC,
                              "{out}/p"]),
            Tool("pdftocairo", ["pdftocairo", "-r", "1200", "-png", "-singlefile", *one,
                                LONG_DOC, "{out}/p"]),
            Tool("mutool", ["mutool", "draw", "-q", "-r", "1200", "-c", "rgb", *MUTOOL_THREADS,
                            "-o", "{out}/p.png", LONG_DOC, str(HIRES_PAGE)]),
            Tool("gs", gs_argv("png16m", "1200", HIRES_PAGE, HIRES_PAGE, GS_AA)),
        ], 1),
    ]


def run_once(tool, out_dir, result):
    elapsed, _, peak_kb, error = timed_run(tool.argv, out_dir)
    if error:
        result.error = error
        return
    result.times.append(elapsed)
    result.peak_kb = max(result.peak_kb, peak_kb)
    names = os.listdir(out_dir)
    result.files = len(names)
    result.out_bytes = sum(os.path.getsize(os.path.join(out_dir, n)) for n in names)


def run_case(case, runs, work):
    results = {t.name: Result() for t in case.tools if t.argv}
    for _ in range(runs):
        for tool in case.tools:
            res = results.get(tool.name)
            if res is not None and not res.error:
                run_once(tool, os.path.join(work, case.name, tool.name), res)
    for tool in case.tools:
        res = results.get(tool.name)
        if res and not res.error and res.files != case.expected_files:
            res.error = "wrote %d files, expected %d" % (res.files, case.expected_files)
    shutil.rmtree(os.path.join(work, case.name), ignore_errors=True)
    return results


def fmt_ratio(a, b):
    return "%.2f" % (a / b) if a and b else "-"


def report(case, results, markdown):
    ours = results.get("rastool")
    ours_ok = ours and not ours.error and ours.times
    rows = []
    for tool in case.tools:
        res = results.get(tool.name)
        if res is None:
            rows.append([tool.name, "", "", "", "", "", "", "cannot: " + tool.why_not])
            continue
        if res.error:
            rows.append([tool.name, "", "", "", "", "", "", "failed: " + res.error])
            continue
        med = statistics.median(res.times)
        theirs = tool.name != "rastool"
        rows.append([
            tool.name, "%.2f" % med,
            fmt_ratio(statistics.median(ours.times), med) if ours_ok and theirs else "",
            "%.1f" % (res.peak_kb / 1024), "%.2f" % (res.out_bytes / 1e6),
            fmt_ratio(ours.out_bytes, res.out_bytes) if ours_ok and theirs else "",
            str(res.files), "",
        ])
    head = ["tool", "median s", "time ours/theirs", "peak MB", "output MB",
            "size ours/theirs", "files", "note"]
    print()
    print(("### " if markdown else "== ") + case.name + ": " + case.what)
    print_table(head, rows, markdown)
    timed = [statistics.median(results[t.name].times) for t in case.tools
             if t.name != "rastool" and t.name in results and not results[t.name].error]
    if ours_ok and timed:
        fastest = min(timed)
        print("%sfastest other tool %.2f s; rastool %.2fx its speed" %
              ("\n" if markdown else "", fastest, fastest / statistics.median(ours.times)))
    sys.stdout.flush()


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rastool", default=os.environ.get(
        "RASTOOL", os.path.join(root, "build", "bin", "rastool")))
    ap.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "3")))
    ap.add_argument("--pages", type=int, default=int(os.environ.get("BENCH_PAGES", "40")),
                    help="pages of the long document for the 150, 204x196 and 101 dpi cases")
    ap.add_argument("--hires-pages", type=int,
                    default=int(os.environ.get("BENCH_HIRES_PAGES", "8")),
                    help="pages for the 300 dpi case")
    ap.add_argument("--cases", default=os.environ.get("BENCH_CASES", ""),
                    help="comma-separated case names (default: all)")
    ap.add_argument("--markdown", action="store_true")
    args = ap.parse_args()

    if not os.access(args.rastool, os.X_OK):
        sys.exit("rastool not found at %s (build it, or pass --rastool)" % args.rastool)
    ensure_inputs()
    total = page_count(LONG_DOC)
    pages = max(1, min(args.pages, total))
    hires = max(1, min(args.hires_pages, total))
    cases = make_cases(os.path.abspath(args.rastool), pages, hires)
    if args.cases:
        wanted = set(args.cases.split(","))
        unknown = wanted - {c.name for c in cases}
        if unknown:
            sys.exit("unknown case(s): " + ", ".join(sorted(unknown)))
        cases = [c for c in cases if c.name in wanted]

    load_before = os.getloadavg()
    print("document: %s (%d pages); runs per cell: %d; cores: %d; load before: %.2f %.2f %.2f"
          % (LONG_DOC, total, args.runs, THREADS, *load_before))
    work = tempfile.mkdtemp(prefix="pagemint-bench-")
    try:
        for case in cases:
            report(case, run_case(case, args.runs, work), args.markdown)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("\nload after: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
