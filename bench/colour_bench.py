#!/usr/bin/env python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""Times colour management: RGB documents against an earlier rastool, CMYK pages against their
RGB twins and against the PDF rasterisers of Debian's packages, and peak memory at 1200 dpi.

Each cell is the median of the runs, interleaved, of wall time and of processor time (user and
system): on a shared machine the processor time is the steadier measure of the work done.

The CMYK pages are written by this script: a print page (a large CMYK photograph, a CMYK
shading, text and fills in CMYK and a spot colour over CMYK) and its twin with the same content
in RGB. Runs are interleaved and each cell is the median of the runs, as in rasteriser_bench.py.
"""

import argparse
import os
import statistics
import sys
import tempfile
import zlib

from dataclasses import dataclass, field

from bench_support import install_missing, print_table, timed_run
from rasteriser_bench import Tool

RGB_DOCS = ["/usr/share/doc/asymptote/asymptote.pdf",
            "/usr/share/doc/liblcms2-dev/LittleCMS2.14 API.pdf.gz"]
TOOL_PACKAGES = {"pdftoppm": "poppler-utils", "gs": "ghostscript", "/usr/bin/time": "time"}
DOC_PACKAGES = {RGB_DOCS[0]: "asymptote-doc", RGB_DOCS[1]: "liblcms2-dev"}
TYPES = ["png", "jpg", "tif", "bmp", "gif", "pcx", "ras", "tga", "emf", "wmf"]


def pdf_file(objects, content):
    """A one-page Letter document; objects are numbered from 5 on."""
    out = b"%PDF-1.6\n%\xe2\xe3\xcf\xd3\n"
    offsets = []
    body = [b"<< /Type /Catalog /Pages 2 0 R >>",
            b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
            b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << "
            b"/XObject << /Photo 5 0 R >> /Shading << /Sh 6 0 R >> /ColorSpace << /Spot 7 0 R >>"
            b" /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"
            b" /Contents 4 0 R >>",
            b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream"] + objects
    for i, obj in enumerate(body):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + obj + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(body) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(body) + 1, xref)
    return out


def print_page(cmyk):
    """The print page in CMYK, or its twin in RGB (the same colours by the plain formula)."""
    w, h = 1500, 1900
    samples = bytearray()
    for y in range(h):
        for x in range(w):
            c, m, yy, k = (x * 255 // w, y * 255 // h, (x + y) * 127 // (w + h),
                           ((x // 40 + y // 40) % 2) * 60)
            if cmyk:
                samples += bytes((c, m, yy, k))
            else:
                samples += bytes((255 - min(255, c + k), 255 - min(255, m + k),
                                  255 - min(255, yy + k)))
    data = zlib.compress(bytes(samples), 6)
    space = b"/DeviceCMYK" if cmyk else b"/DeviceRGB"
    photo = (b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace %s "
             b"/BitsPerComponent 8 /Filter /FlateDecode /Length %d >>\nstream\n"
             % (w, h, space, len(data)) + data + b"\nendstream")
    c0, c1 = (b"[0.9 0.1 0 0]", b"[0 0.8 0.9 0.1]") if cmyk else (b"[0.1 0.9 1]", b"[0.9 0.1 0]")
    shading = (b"<< /ShadingType 2 /ColorSpace %s /Coords [0 0 612 0] /Function << "
               b"/FunctionType 2 /Domain [0 1] /C0 %s /C1 %s /N 1 >> >>" % (space, c0, c1))
    spot = (b"[/Separation /Ink /DeviceCMYK << /FunctionType 2 /Domain [0 1] /C0 [0 0 0 0] "
            b"/C1 [0.1 0.7 0.9 0.05] /N 1 >>]" if cmyk else
            b"[/Separation /Ink /DeviceRGB << /FunctionType 2 /Domain [0 1] /C0 [1 1 1] "
            b"/C1 [0.85 0.25 0.05] /N 1 >>]")
    fill = (lambda i: b"%.2f %.2f %.2f %.2f k" % (i % 7 / 7, i % 5 / 5, i % 3 / 3, i % 2 / 4)
            if cmyk else b"%.2f %.2f %.2f rg" % (1 - i % 7 / 7, 1 - i % 5 / 5, 1 - i % 3 / 3))
    content = b"q 540 0 0 400 36 356 cm /Photo Do Q q 36 36 540 120 re W n /Sh sh Q\n"
    for i in range(400):
        content += fill(i) + b" %d %d 20 12 re f\n" % (36 + (i % 27) * 20, 170 + (i // 27) * 12)
    content += b"/Spot cs 0.7 scn 36 760 540 20 re f\n"
    for i in range(30):
        content += fill(i) + b" BT /F1 9 Tf 36 %d Td (Colour-managed text, line %d) Tj ET\n" % (
            340 - i * 5, i)
    return pdf_file([photo, shading, spot], content)


@dataclass
class Result:
    times: list = field(default_factory=list)
    cpu: list = field(default_factory=list)
    peak_kb: int = 0
    error: str = ""


def run_once(tool, out_dir, result):
    elapsed, cpu, peak_kb, error = timed_run(tool.argv, out_dir)
    if error:
        result.error = error
        return
    result.times.append(elapsed)
    result.cpu.append(cpu)
    result.peak_kb = max(result.peak_kb, peak_kb)


def timed_case(title, tools, runs, work, markdown, reference):
    results = {t.name: Result() for t in tools}
    for _ in range(runs):
        for t in tools:
            if not results[t.name].error:
                run_once(t, os.path.join(work, "out"), results[t.name])
    rows = []
    ref = results[reference]
    ref_time = statistics.median(ref.times) if ref.times else 0
    ref_cpu = statistics.median(ref.cpu) if ref.cpu else 0
    for t in tools:
        res = results[t.name]
        if res.error:
            rows.append([t.name, "", "", "", "", "", "failed: " + res.error])
            continue
        med = statistics.median(res.times)
        cpu = statistics.median(res.cpu)
        rows.append([t.name, "%.2f" % med, "%.2f" % (med / ref_time) if ref_time else "",
                     "%.2f" % cpu, "%.2f" % (cpu / ref_cpu) if ref_cpu else "",
                     "%.1f" % (res.peak_kb / 1024), ""])
    print()
    print(("### " if markdown else "== ") + title)
    print_table(["tool", "wall s", "wall / " + reference, "cpu s", "cpu / " + reference,
                 "peak MB", "note"], rows, markdown)
    return results


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rastool", default=os.path.join(root, "build", "bin", "rastool"))
    ap.add_argument("--before", help="an earlier rastool to compare RGB documents with")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--pages", type=int, default=12, help="pages of each RGB document")
    ap.add_argument("--markdown", action="store_true")
    args = ap.parse_args()
    install_missing(TOOL_PACKAGES, DOC_PACKAGES)
    work = tempfile.mkdtemp(prefix="pagemint-colour-bench-")
    ours = os.path.abspath(args.rastool)

    cmyk_pdf, rgb_pdf = os.path.join(work, "cmyk.pdf"), os.path.join(work, "rgb.pdf")
    with open(cmyk_pdf, "wb") as f:
        f.write(print_page(True))
    with open(rgb_pdf, "wb") as f:
        f.write(print_page(False))

    if args.before:
        for doc in RGB_DOCS:
            if doc.endswith(".gz"):
                plain = os.path.join(work, "doc.pdf")
                with open(plain, "wb") as f:
                    f.write(zlib.decompress(open(doc, "rb").read(), 16 + zlib.MAX_WBITS))
                doc = plain
            for ext in TYPES:
                argv = lambda exe: [exe, "-i", doc, "-o", "{out}/p." + ext, "-r", "150x150",
                                    "-l", str(args.pages)]
                timed_case("RGB document %s, %s, 150 dpi, pages 1-%d" % (
                    os.path.basename(doc), ext, args.pages),
                    [Tool("before", argv(os.path.abspath(args.before))), Tool("rastool", argv(ours))],
                    args.runs, work, args.markdown, "before")

    for dpi in ("150", "300"):
        tools = [
            Tool("rastool RGB twin", [ours, "-i", rgb_pdf, "-o", "{out}/p.png", "-r",
                                      dpi + "x" + dpi]),
            Tool("rastool CMYK", [ours, "-i", cmyk_pdf, "-o", "{out}/p.png", "-r",
                                  dpi + "x" + dpi]),
            Tool("pdftoppm CMYK", ["pdftoppm", "-r", dpi, "-png", cmyk_pdf, "{out}/p"]),
            Tool("gs CMYK", ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=png16m",
                             "-r" + dpi, "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4",
                             "-sOutputFile={out}/p.png", cmyk_pdf]),
        ]
        timed_case("print page, 24-bit PNG, %s dpi" % dpi, tools, args.runs, work,
                   args.markdown, "rastool RGB twin")
    tools = [Tool("rastool RGB twin", [ours, "-i", rgb_pdf, "-o", "{out}/p.tif", "-r",
                                       "1200x1200", "-c", "PACKBITS"]),
             Tool("rastool CMYK", [ours, "-i", cmyk_pdf, "-o", "{out}/p.tif", "-r",
                                   "1200x1200", "-c", "PACKBITS"])]
    timed_case("print page, 24-bit TIFF PackBits, 1200 dpi (peak memory)", tools, 1, work,
               args.markdown, "rastool RGB twin")


if __name__ == "__main__":
    sys.exit(main())
