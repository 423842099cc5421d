#!/usr/bin/env python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""How legible rastool's fax pages are, next to Ghostscript's tiffg4 device on the same pages.

Two measures, at 204x98 and 204x196 dpi:
- OCR word accuracy: each page of a few real documents (Debian's own manuals) is written as a
  Group 4 TIFF by each tool, stretched to square pixels as a fax is printed, read by tesseract,
  and compared with the words pdftotext finds in the same page. Accuracy is the share of the
  reference words (as a multiset, lower case, letters and digits only) that the OCR found.
- Ruled lines kept: a two-page form with ruled tables (rules of 0.25 to 1 point, written here as
  a PDF) is faxed by each tool, and every rule is looked up in the image: a rule counts as kept
  when at least 95 % of its length is black within a pixel of where it should be.
- Photo tone error: a page holding a real photograph (from Debian's texlive-pictures-doc) is
  faxed, and the share of black in each 12x12 block is compared with the grey level of the same
  block rendered in grey by pdftoppm: the mean difference, 0 (every tone kept) to 255.

Usage: python3 bench/fax_legibility.py --rastool build/bin/rastool [--markdown]
"""

import argparse
import collections
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

from bench_support import install_missing

# (package, path, pages): text pages of real manuals, prose, tables and code.
DOCUMENTS = [
    ("bzip2", "/usr/share/doc/bzip2/manual.pdf.gz", [3, 5, 9]),
    ("valgrind", "/usr/share/doc/valgrind/valgrind_manual.pdf.gz", [12, 40]),
    ("nettle-dev", "/usr/share/doc/nettle-dev/nettle.pdf.gz", [8, 30]),
]
PHOTO_PACKAGE = "texlive-pictures-doc"
PHOTO = "/usr/share/doc/texlive-doc/latex/callouts/A319neo.jpg"
RESOLUTIONS = [(204, 98), (204, 196)]
TOOLS = {"tesseract": "tesseract-ocr", "gs": "ghostscript", "pdftotext": "poppler-utils",
         "convert": "imagemagick"}


def ensure_tools():
    documents = {path: pkg for pkg, path, _ in DOCUMENTS}
    documents[PHOTO] = PHOTO_PACKAGE
    install_missing(TOOLS, documents)


def words(text):
    return collections.Counter(w for w in re.findall(r"[a-z0-9]+", text.lower()) if len(w) > 1)


def run(cmd):
    return subprocess.run(cmd, check=True, capture_output=True, text=True).stdout


def fax_ours(rastool, pdf, page, res, out):
    run([rastool, "-i", pdf, "-o", out, "-c", "g4", "-r", "%dx%d" % res,
         "-f", str(page), "-l", str(page)])


def fax_ghostscript(pdf, page, res, out):
    run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=tiffg4", "-r%dx%d" % res,
         "-dFirstPage=%d" % page, "-dLastPage=%d" % page, "-o", out, pdf])


def square_pixels(tif, res, out):
    """Rows repeated as a fax machine prints them: 204x98 becomes 204x196 then 204x204."""
    scale = 100.0 * res[0] / res[1]
    run(["convert", tif, "-sample", "100%%x%.4f%%" % scale, "-density", str(res[0]), out])


def ocr_accuracy(tif, res, reference, scratch):
    square = os.path.join(scratch, "square.png")
    square_pixels(tif, res, square)
    found = words(run(["tesseract", square, "-", "--psm", "3"]))
    hits = sum(min(n, found[w]) for w, n in reference.items())
    return hits, sum(reference.values())


# --- the ruled form -------------------------------------------------------------------------

def form_pdf(path):
    """Two A4 pages of tables ruled with thin lines; returns each page's rules in points as
    (page, x0, y0, x1, y1), y from the bottom."""
    rules = []
    pages = []
    widths = [0.25, 0.4, 0.5, 0.75, 1.0]
    for page in range(2):
        ops = ["BT /F1 14 Tf 56 800 Td (Order form, page %d) Tj ET" % (page + 1)]
        top = 770
        for table in range(3):
            width = widths[(page * 3 + table) % len(widths)]
            rows, cols = 5, 4
            x0, x1 = 56, 540
            row_h = 22
            y_top = top
            y_bottom = y_top - rows * row_h
            ops.append("%.2f w 0 G" % width)
            for r in range(rows + 1):
                y = y_top - r * row_h
                ops.append("%d %d m %d %d l S" % (x0, y, x1, y))
                rules.append((page, x0, y, x1, y))
            for c in range(cols + 1):
                x = x0 + c * (x1 - x0) // cols
                ops.append("%d %d m %d %d l S" % (x, y_top, x, y_bottom))
                rules.append((page, x, y_bottom, x, y_top))
            for r in range(rows):
                for c in range(cols):
                    x = x0 + c * (x1 - x0) // cols + 4
                    y = y_top - (r + 1) * row_h + 7
                    ops.append("BT /F1 9 Tf %d %d Td (Item %d.%d) Tj ET" % (x, y, r + 1, c + 1))
            top = y_bottom - 40
        pages.append("\n".join(ops).encode())

    objects = [b"<< /Type /Catalog /Pages 2 0 R >>",
               ("<< /Type /Pages /Kids [%s] /Count %d >>" % (
                   " ".join("%d 0 R" % (4 + 2 * i) for i in range(len(pages))), len(pages))).encode(),
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    for i, content in enumerate(pages):
        objects.append(("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
                        "/Resources << /Font << /F1 3 0 R >> >> /Contents %d 0 R >>"
                        % (5 + 2 * i)).encode())
        objects.append(b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream")
    write_pdf(path, objects)
    return rules


def read_bitmap(tif):
    """The image as rows of 0/1 (1 = black), through ImageMagick's plain PBM."""
    data = subprocess.run(["convert", tif, "-compress", "none", "pbm:-"], check=True,
                          capture_output=True).stdout.decode().split()
    assert data[0] == "P1"
    width, height = int(data[1]), int(data[2])
    bits = data[3:]
    return [[int(b) for b in bits[y * width:(y + 1) * width]] for y in range(height)]


def rules_kept(bitmap, rules, res, page_height_pt=842):
    height, width = len(bitmap), len(bitmap[0])
    kept = 0
    for x0, y0, x1, y1 in rules:
        px = lambda x: int(round(x * res[0] / 72.0))
        py = lambda y: int(round((page_height_pt - y) * res[1] / 72.0))
        if y0 == y1:
            row = py(y0)
            cols = range(px(x0) + 2, px(x1) - 2)
            black = sum(1 for c in cols
                        if any(0 <= r < height and 0 <= c < width and bitmap[r][c]
                               for r in (row - 1, row, row + 1)))
        else:
            col = px(x0)
            rows = range(py(y1) + 2, py(y0) - 2)
            black = sum(1 for r in rows
                        if any(0 <= r < height and 0 <= c < width and bitmap[r][c]
                               for c in (col - 1, col, col + 1)))
            cols = rows
        kept += black >= 0.95 * len(cols)
    return kept


def write_pdf(path, objects):
    out = b"%PDF-1.4\n"
    offsets = []
    for i, body in enumerate(objects):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % (i + 1) + body + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    out += b"".join(b"%010d 00000 n \n" % o for o in offsets)
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        len(objects) + 1, xref)
    with open(path, "wb") as f:
        f.write(out)


def photo_pdf(path):
    """An A4 page with the photograph across its upper half."""
    size = run(["identify", "-format", "%w %h", PHOTO]).split()
    width, height = int(size[0]), int(size[1])
    with open(PHOTO, "rb") as f:
        jpeg = f.read()
    shown_h = 483 * height / width
    content = b"q 483 0 0 %.2f 56 %.2f cm /Im Do Q" % (shown_h, 780 - shown_h)
    write_pdf(path, [
        b"<< /Type /Catalog /Pages 2 0 R >>",
        b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
        b"/Resources << /XObject << /Im 5 0 R >> >> /Contents 4 0 R >>",
        b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
        b"<< /Type /XObject /Subtype /Image /Width %d /Height %d /ColorSpace /DeviceRGB "
        b"/BitsPerComponent 8 /Filter /DCTDecode /Length %d >>\nstream\n" % (
            width, height, len(jpeg)) + jpeg + b"\nendstream",
    ])


def read_grey(image):
    """The image as rows of grey levels, through ImageMagick's plain PGM."""
    data = subprocess.run(["convert", image, "-colorspace", "Gray", "-depth", "8", "-compress",
                           "none", "pgm:-"], check=True, capture_output=True).stdout.split()
    width, height = int(data[1]), int(data[2])
    levels = [int(v) for v in data[4:]]
    return [levels[y * width:(y + 1) * width] for y in range(height)]


def tone_error(fax, reference, block=12):
    """Mean difference between block averages of the fax (black 0, white 255) and the grey
    reference, over the blocks where the reference is not plain white."""
    height = min(len(fax), len(reference))
    width = min(len(fax[0]), len(reference[0]))
    total, blocks = 0.0, 0
    for by in range(0, height - block + 1, block):
        for bx in range(0, width - block + 1, block):
            ref = sum(reference[y][x] for y in range(by, by + block)
                      for x in range(bx, bx + block)) / block ** 2
            if ref > 250:
                continue
            got = 255.0 * sum(1 - fax[y][x] for y in range(by, by + block)
                              for x in range(bx, bx + block)) / block ** 2
            total += abs(got - ref)
            blocks += 1
    return total / max(blocks, 1)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rastool", required=True)
    parser.add_argument("--markdown", action="store_true")
    args = parser.parse_args()
    ensure_tools()
    rastool = os.path.abspath(args.rastool)
    with tempfile.TemporaryDirectory() as scratch:
        pdfs = []
        for package, path, pages in DOCUMENTS:
            pdf = os.path.join(scratch, package + ".pdf")
            with gzip.open(path) as src, open(pdf, "wb") as dst:
                shutil.copyfileobj(src, dst)
            pdfs.append((package, pdf, pages))
        form = os.path.join(scratch, "form.pdf")
        rules = form_pdf(form)
        photo = os.path.join(scratch, "photo.pdf")
        photo_pdf(photo)

        rows = []
        for res in RESOLUTIONS:
            totals = {"rastool": [0, 0], "gs tiffg4": [0, 0]}
            for package, pdf, pages in pdfs:
                for page in pages:
                    reference = words(run(["pdftotext", "-f", str(page), "-l", str(page),
                                           "-layout", pdf, "-"]))
                    for name in totals:
                        tif = os.path.join(scratch, "page.tif")
                        if name == "rastool":
                            fax_ours(rastool, pdf, page, res, tif)
                        else:
                            fax_ghostscript(pdf, page, res, tif)
                        hits, total = ocr_accuracy(tif, res, reference, scratch)
                        totals[name][0] += hits
                        totals[name][1] += total
            for name, (hits, total) in totals.items():
                kept = 0
                for page in (1, 2):
                    tif = os.path.join(scratch, "form.tif")
                    if name == "rastool":
                        fax_ours(rastool, form, page, res, tif)
                    else:
                        fax_ghostscript(form, page, res, tif)
                    kept += rules_kept(read_bitmap(tif),
                                       [r[1:] for r in rules if r[0] == page - 1], res)
                tif = os.path.join(scratch, "photo.tif")
                if name == "rastool":
                    fax_ours(rastool, photo, 1, res, tif)
                else:
                    fax_ghostscript(photo, 1, res, tif)
                reference = os.path.join(scratch, "photo-grey")
                run(["pdftoppm", "-gray", "-singlefile", "-rx", str(res[0]), "-ry", str(res[1]),
                     photo, reference])
                tone = tone_error(read_bitmap(tif), read_grey(reference + ".pgm"))
                rows.append((res, name, hits, total, kept, len(rules), tone))

    if args.markdown:
        print("| resolution | tool | OCR words found | accuracy | ruled lines kept "
              "| photo tone error |")
        print("|---|---|---|---|---|---|")
    for res, name, hits, total, kept, all_rules, tone in rows:
        accuracy = 100.0 * hits / max(total, 1)
        if args.markdown:
            print("| %dx%d | %s | %d of %d | %.1f %% | %d of %d | %.1f |" % (
                res[0], res[1], name, hits, total, accuracy, kept, all_rules, tone))
        else:
            print("%dx%d %-10s words %d/%d (%.1f %%) rules %d/%d tone error %.1f" % (
                res[0], res[1], name, hits, total, accuracy, kept, all_rules, tone))


if __name__ == "__main__":
    sys.exit(main())
