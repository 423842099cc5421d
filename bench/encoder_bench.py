#!/usr/bin/env python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""Times rastool's output types and depths against its own render floor and against peers.

Every case converts the same pages (by default the first 60 of Debian's beamer user guide at
150 dpi, one file per page); the render floor is the same pages to 24-bit BMP, which costs
almost nothing to encode, so "x floor" is what encoding adds to rendering. Runs are
interleaved (run 1 of every case, then run 2, ...), and the floor is timed in every round, so
that a change in machine load touches all cases alike; each cell is the median of the runs.
Then: the split-process peers for 24-bit PNG (two mutool draw and two pdftoppm processes over
the halves of the range, at once), Ghostscript's png256 against rastool's 8-bit PNG and GIF
with PSNR against each tool's own 24-bit page (and, to show where their sizes part, each one's
palette pixels deflated with rastool's settings), and peak resident memory of one page at
1200 dpi for every depth.
"""

import argparse
import ctypes
import math
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib

from bench_support import install_missing, print_table, time_process

DOC = "/usr/share/doc/texlive-doc/latex/beamer/beameruserguide.pdf"
DOC_PACKAGE = "texlive-latex-recommended-doc"
TOOL_PACKAGES = {
    "pdftoppm": "poppler-utils",
    "pdfinfo": "poppler-utils",
    "mutool": "mupdf-tools",
    "gs": "ghostscript",
    "pngtopnm": "netpbm",
    "giftopnm": "netpbm",
    "pnmpsnr": "netpbm",
    "ppmtoppm": "netpbm",
    "/usr/bin/time": "time",
}
# Ghostscript does not anti-alias unless asked; everything else here does.
GS_AA = ["-dTextAlphaBits=4", "-dGraphicsAlphaBits=4"]

FLOOR = ("BMP 24", "bmp", ["-b", "24"])
# One case per output type and depth the type holds (TIFF: per compression too).
CASES = [
    ("BMP 8 palette", "bmp", ["-b", "8"]),
    ("BMP 4 palette", "bmp", ["-b", "4"]),
    ("BMP 1", "bmp", ["-b", "1"]),
    ("PNG 24", "png", ["-b", "24"]),
    ("PNG 8 palette", "png", ["-b", "8"]),
    ("PNG 4 palette", "png", ["-b", "4"]),
    ("PNG 8 grey", "png", ["-b", "8", "-g"]),
    ("PNG 1", "png", ["-b", "1"]),
    ("GIF 8 palette", "gif", ["-b", "8"]),
    ("GIF 4 palette", "gif", ["-b", "4"]),
    ("GIF 1", "gif", ["-b", "1"]),
    ("TIFF 24 none", "tif", ["-b", "24", "-c", "none"]),
    ("TIFF 24 PackBits", "tif", ["-b", "24", "-c", "PACKBITS"]),
    ("TIFF 24 LZW", "tif", ["-b", "24", "-c", "lzw"]),
    ("TIFF 24 JPEG", "tif", ["-b", "24", "-c", "jpeg"]),
    ("TIFF 8 palette LZW", "tif", ["-b", "8", "-c", "lzw"]),
    ("TIFF 8 palette PackBits", "tif", ["-b", "8", "-c", "PACKBITS"]),
    ("TIFF 4 palette LZW", "tif", ["-b", "4", "-c", "lzw"]),
    ("TIFF 8 grey LZW", "tif", ["-b", "8", "-g", "-c", "lzw"]),
    ("TIFF 1 G4", "tif", ["-b", "1", "-c", "g4"]),
    ("JPG 24", "jpg", ["-b", "24"]),
    ("JPG 8 grey", "jpg", ["-b", "8", "-g"]),
    ("PCX 24", "pcx", ["-b", "24"]),
    ("PCX 8 palette", "pcx", ["-b", "8"]),
    ("RAS 24", "ras", ["-b", "24"]),
    ("RAS 8 palette", "ras", ["-b", "8"]),
    ("TGA 24", "tga", ["-b", "24"]),
    ("TGA 8 palette", "tga", ["-b", "8"]),
    ("EMF 24", "emf", ["-b", "24"]),
    ("EMF 8 palette", "emf", ["-b", "8"]),
    ("WMF 24", "wmf", ["-b", "24"]),
    ("WMF 8 palette", "wmf", ["-b", "8"]),
]
# Peak memory of one page at 1200 dpi, per depth.
HIRES_CASES = [
    ("PNG 24", "png", ["-b", "24"]),
    ("PNG 8 palette", "png", ["-b", "8"]),
    ("PNG 4 palette", "png", ["-b", "4"]),
    ("PNG 8 grey", "png", ["-b", "8", "-g"]),
    ("PNG 1", "png", ["-b", "1"]),
    ("GIF 8 palette", "gif", ["-b", "8"]),
    ("TIFF 8 palette LZW", "tif", ["-b", "8", "-c", "lzw"]),
]


def ensure_inputs():
    install_missing(TOOL_PACKAGES, {DOC: DOC_PACKAGE})


def fresh(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def folder_bytes(path):
    return sum(os.path.getsize(os.path.join(path, n)) for n in os.listdir(path))


def settle():
    """Writes the files of the cases before to disk, so that their write-back does not fall into
    the next case's time: the floor and the uncompressed types write 130-390 MB a run."""
    os.sync()


def timed(argv):
    """Runs one process; returns (wall seconds, peak resident KB)."""
    settle()
    elapsed, _, peak, error = time_process(argv)
    if error:
        raise RuntimeError("%s: %s" % (argv[0], error))
    return elapsed, peak


def timed_together(argvs):
    """Runs processes at once; returns the wall time until the last one ends."""
    settle()
    start = time.monotonic()
    procs = [subprocess.Popen(a, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
             for a in argvs]
    for p in procs:
        _, err = p.communicate()
        if p.returncode != 0:
            raise RuntimeError("%s: exit %d: %s" % (p.args[0], p.returncode,
                                                     err.decode(errors="replace").strip()))
    return time.monotonic() - start


def rastool_argv(rastool, out, ext, args, first, last, dpi):
    return [rastool, "-i", DOC, "-o", os.path.join(out, "p." + ext), "-r", "%dx%d" % (dpi, dpi),
            "-f", str(first), "-l", str(last)] + args


def psnr_of_pages(reference_files, reduced_files, decode):
    """PSNR over all pages together: the mean of the per-channel squared errors."""
    squared = []
    with tempfile.TemporaryDirectory() as tmp:
        a, b = os.path.join(tmp, "a.ppm"), os.path.join(tmp, "b.ppm")
        for ref, red in zip(reference_files, reduced_files):
            # Grey pages decode as PGM; ppmtoppm makes both sides colour.
            for path, source, decoder in ((a, ref, "pngtopnm"), (b, red, decode)):
                with open(path, "wb") as f:
                    subprocess.run("%s '%s' | ppmtoppm" % (decoder, source), shell=True,
                                   stdout=f, stderr=subprocess.DEVNULL, check=True)
            proc = subprocess.run(["pnmpsnr", "-rgb", "-machine", "-max=1000", a, b],
                                  capture_output=True, text=True)
            if proc.returncode != 0:
                raise RuntimeError("pnmpsnr %s %s: %s" % (ref, red, proc.stderr.strip()))
            for value in proc.stdout.split()[:3]:
                db = float(value)
                # Identical channels are reported at the maximum asked for.
                squared.append(0.0 if db >= 999 else 255.0 ** 2 / 10 ** (db / 10))
    mse = statistics.mean(squared)
    return float("inf") if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def png_index_rows(path):
    """The filtered rows of an 8-bit palette PNG, inflated, and how many indices they use."""
    with open(path, "rb") as f:
        data = f.read()
    at, idat, width = 8, [], 0
    while at < len(data):
        length = int.from_bytes(data[at:at + 4], "big")
        kind = data[at + 4:at + 8]
        if kind == b"IHDR":
            width = int.from_bytes(data[at + 8:at + 12], "big")
        elif kind == b"IDAT":
            idat.append(data[at + 8:at + 8 + length])
        at += 12 + length
    rows = zlib.decompress(b"".join(idat))
    stride = width + 1
    used = set()
    for start in range(0, len(rows), stride):
        used.update(rows[start + 1:start + stride])
    return rows, len(used)


def libdeflate_size(data, level):
    """Bytes of `data` deflated by libdeflate (the library rastool links) at `level`."""
    lib = ctypes.CDLL("libdeflate.so.0")
    lib.libdeflate_alloc_compressor.restype = ctypes.c_void_p
    lib.libdeflate_alloc_compressor.argtypes = [ctypes.c_int]
    lib.libdeflate_deflate_compress_bound.restype = ctypes.c_size_t
    lib.libdeflate_deflate_compress_bound.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
    lib.libdeflate_deflate_compress.restype = ctypes.c_size_t
    lib.libdeflate_deflate_compress.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                                ctypes.c_void_p, ctypes.c_size_t]
    lib.libdeflate_free_compressor.argtypes = [ctypes.c_void_p]
    compressor = lib.libdeflate_alloc_compressor(level)
    bound = lib.libdeflate_deflate_compress_bound(compressor, len(data))
    out = ctypes.create_string_buffer(bound)
    size = lib.libdeflate_deflate_compress(compressor, data, len(data), out, bound)
    lib.libdeflate_free_compressor(compressor)
    return size


def sorted_files(path):
    return [os.path.join(path, n) for n in sorted(os.listdir(path))]


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rastool", default=os.environ.get(
        "RASTOOL", os.path.join(root, "build", "bin", "rastool")))
    # Five runs: with three, one slow round of the floor moved every ratio by a tenth.
    ap.add_argument("--runs", type=int, default=int(os.environ.get("BENCH_RUNS", "5")))
    ap.add_argument("--pages", type=int, default=int(os.environ.get("BENCH_PAGES", "60")))
    ap.add_argument("--dpi", type=int, default=150)
    ap.add_argument("--hires-page", type=int, default=1,
                    help="the page converted at 1200 dpi for peak memory")
    ap.add_argument("--markdown", action="store_true")
    args = ap.parse_args()
    rastool = os.path.abspath(args.rastool)
    if not os.access(rastool, os.X_OK):
        sys.exit("rastool not found at %s (build it, or pass --rastool)" % rastool)
    ensure_inputs()
    pages, dpi = args.pages, args.dpi
    half = pages // 2
    work = tempfile.mkdtemp(prefix="pagemint-encoders-")
    print("document: %s, pages 1-%d at %d dpi; runs per cell: %d; cores: %d; "
          "load before: %.2f %.2f %.2f" % (DOC, pages, dpi, args.runs, os.cpu_count() or 1,
                                           *os.getloadavg()))
    try:
        # Rastool's cases, each round with its own floor.
        floor_times, times, sizes = [], {c[0]: [] for c in CASES}, {}
        for _ in range(args.runs):
            out = fresh(os.path.join(work, "floor"))
            floor_times.append(timed(rastool_argv(rastool, out, FLOOR[1], FLOOR[2], 1, pages,
                                                  dpi))[0])
            for name, ext, extra in CASES:
                out = fresh(os.path.join(work, "case"))
                times[name].append(timed(rastool_argv(rastool, out, ext, extra, 1, pages,
                                                      dpi))[0])
                sizes[name] = folder_bytes(out)
        floor = statistics.median(floor_times)
        print()
        print(("### " if args.markdown else "== ") +
              "rastool, every type and depth, against the render floor (%s)" % FLOOR[0])
        rows = [[FLOOR[0] + " (floor)", "%.2f" % floor, "1.00", ""]]
        for name, _, _ in CASES:
            med = statistics.median(times[name])
            rows.append([name, "%.2f" % med, "%.2f" % (med / floor), "%.2f" % (sizes[name] / 1e6)])
        print_table(["output", "median s", "x floor", "output MB"], rows, args.markdown)

        # 24-bit PNG against two processes of each peer over the halves of the range.
        peers = {
            "rastool": lambda o: [rastool_argv(rastool, o, "png", ["-b", "24"], 1, pages, dpi)],
            "2 x mutool draw": lambda o: [
                ["mutool", "draw", "-q", "-r", str(dpi), "-c", "rgb",
                 "-o", os.path.join(o, "a%03d.png"), DOC, "1-%d" % half],
                ["mutool", "draw", "-q", "-r", str(dpi), "-c", "rgb",
                 "-o", os.path.join(o, "b%03d.png"), DOC, "%d-%d" % (half + 1, pages)]],
            "2 x pdftoppm": lambda o: [
                ["pdftoppm", "-r", str(dpi), "-png", "-f", "1", "-l", str(half), DOC,
                 os.path.join(o, "a")],
                ["pdftoppm", "-r", str(dpi), "-png", "-f", str(half + 1), "-l", str(pages), DOC,
                 os.path.join(o, "b")]],
        }
        peer_times, peer_sizes = {k: [] for k in peers}, {}
        for _ in range(args.runs):
            for name, argvs in peers.items():
                out = fresh(os.path.join(work, "peer"))
                peer_times[name].append(timed_together(argvs(out)))
                peer_sizes[name] = folder_bytes(out)
        ours = statistics.median(peer_times["rastool"])
        print()
        print(("### " if args.markdown else "== ") +
              "24-bit PNG against two peer processes splitting the range")
        rows = []
        for name in peers:
            med = statistics.median(peer_times[name])
            rows.append([name, "%.2f" % med, "%.2f" % (ours / med), "%.2f" % (med / floor),
                         "%.2f" % (peer_sizes[name] / 1e6)])
        print_table(["tool", "median s", "rastool / this", "x floor", "output MB"], rows,
              args.markdown)

        # 8-bit palettes against Ghostscript's png256, with PSNR against each one's 24-bit page.
        # Ghostscript as it comes (no anti-aliasing, so far fewer colours) and anti-aliased
        # like the others.
        gs = lambda device, o, aa=(): ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                       "-sDEVICE=" + device, "-r%d" % dpi, "-dFirstPage=1",
                                       "-dLastPage=%d" % pages] + list(aa) + [
                                           "-sOutputFile=" + os.path.join(o, "p%03d.png"), DOC]
        pal = {
            "rastool PNG 8": (lambda o: rastool_argv(rastool, o, "png", ["-b", "8"], 1, pages,
                                                     dpi), "rastool24", "pngtopnm"),
            "rastool GIF 8": (lambda o: rastool_argv(rastool, o, "gif", ["-b", "8"], 1, pages,
                                                     dpi), "rastool24", "giftopnm"),
            "gs png256": (lambda o: gs("png256", o), "gs24", "pngtopnm"),
            "gs png256 anti-aliased": (lambda o: gs("png256", o, GS_AA), "gs24aa", "pngtopnm"),
        }
        pal_times = {k: [] for k in pal}
        for _ in range(args.runs):
            for name, (argv, _, _) in pal.items():
                out = fresh(os.path.join(work, name.replace(" ", "_")))
                pal_times[name].append(timed(argv(out))[0])
        refs = {"rastool24": fresh(os.path.join(work, "rastool24")),
                "gs24": fresh(os.path.join(work, "gs24")),
                "gs24aa": fresh(os.path.join(work, "gs24aa"))}
        timed(rastool_argv(rastool, refs["rastool24"], "png", ["-b", "24"], 1, pages, dpi))
        timed(gs("png16m", refs["gs24"]))
        timed(gs("png16m", refs["gs24aa"], GS_AA))
        gs_time = statistics.median(pal_times["gs png256"])
        print()
        print(("### " if args.markdown else "== ") +
              "8-bit palettes against Ghostscript png256 (PSNR against the tool's own 24-bit "
              "pages)")
        rows = []
        for name, (_, ref, decode) in pal.items():
            out = os.path.join(work, name.replace(" ", "_"))
            med = statistics.median(pal_times[name])
            psnr = psnr_of_pages(sorted_files(refs[ref]), sorted_files(out), decode)
            rows.append([name, "%.2f" % med, "%.2f" % (med / gs_time), "%.2f" % (med / floor),
                         "%.2f" % (folder_bytes(out) / 1e6), "%.1f" % psnr])
        print_table(["tool", "median s", "x gs png256", "x floor", "output MB", "PSNR dB"], rows,
              args.markdown)

        # Where the difference in size comes from: the same deflate settings on each tool's own
        # pixels, and how many colours a page holds.
        print()
        print(("### " if args.markdown else "== ") +
              "8-bit palette PNG pixels, each deflated as rastool does (libdeflate level 6)")
        rows = []
        for name in ("rastool PNG 8", "gs png256", "gs png256 anti-aliased"):
            out = os.path.join(work, name.replace(" ", "_"))
            colours, redeflated = [], 0
            for path in sorted_files(out):
                rows_bytes, used = png_index_rows(path)
                colours.append(used)
                redeflated += libdeflate_size(rows_bytes, 6)
            rows.append([name, "%d" % statistics.median(colours), "%.2f" % (redeflated / 1e6),
                         "%.2f" % (folder_bytes(out) / 1e6)])
        print_table(["pages of", "colours on the median page", "deflated as rastool does, MB",
                     "as the tool wrote them, MB"], rows, args.markdown)

        # Peak memory at 1200 dpi, one page per depth.
        print()
        print(("### " if args.markdown else "== ") +
              "one page (%d) at 1200 dpi: peak resident memory" % args.hires_page)
        rows = []
        for name, ext, extra in HIRES_CASES[:int(os.environ.get("BENCH_HIRES_CASES", len(HIRES_CASES)))]:
            out = fresh(os.path.join(work, "hires"))
            try:
                seconds, peak = timed(rastool_argv(rastool, out, ext, extra, args.hires_page,
                                                   args.hires_page, 1200))
                rows.append([name, "%.2f" % seconds, "%.0f" % (peak / 1024),
                             "%.2f" % (folder_bytes(out) / 1e6)])
            except RuntimeError as e:
                rows.append([name, "", "", "failed: %s" % e])
        print_table(["output", "s", "peak MB", "output MB"], rows, args.markdown)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("\nload after: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
