#!/usr/bin/env python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""Two builds of rastool side by side on the same pages: wall and CPU time, interleaved runs.

For a change that must cost next to nothing (such as the engine confining itself), compare the
build before it with the build after: python3 bench/engine_ab.py --before A --after B.
CPU time (user + system of the run) is less disturbed than wall time on a busy machine.
"""

import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_support import install_missing, print_table  # noqa: E402

DOCUMENT = "/usr/share/doc/asymptote/asymptote.pdf"

# name, arguments after -i/-o, output name
CASES = [
    ("png150 p1-40", ["-r", "150x150", "-f", "1", "-l", "40"], "p.png"),
    ("tif-g4 300 p1-20", ["-r", "300x300", "-f", "1", "-l", "20", "-c", "g4"], "p.tif"),
    ("jpg72 p1-196", ["-r", "72x72"], "p.jpg"),
    ("png72 one page", ["-r", "72x72", "-f", "5", "-l", "5"], "p.png"),
]


def run(rastool, args, out_name):
    out = tempfile.mkdtemp(prefix="engine-ab-")
    try:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.monotonic()
        subprocess.run([rastool, "-i", DOCUMENT, "-o", os.path.join(out, out_name)] + args,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wall = time.monotonic() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        return wall, cpu
    finally:
        shutil.rmtree(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--before", required=True)
    ap.add_argument("--after", required=True)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--markdown", action="store_true")
    opts = ap.parse_args()
    install_missing({}, {DOCUMENT: "asymptote-doc"})
    rows = []
    for name, args, out_name in CASES:
        times = {"before": [], "after": []}
        for i in range(opts.runs):
            # Interleaved, alternating which goes first, so drift in load hits both alike.
            order = ["before", "after"] if i % 2 == 0 else ["after", "before"]
            for which in order:
                times[which].append(run(getattr(opts, which), args, out_name))
        med = {w: (statistics.median(t[0] for t in v), statistics.median(t[1] for t in v))
               for w, v in times.items()}
        rows.append([name,
                     "%.3f" % med["before"][0], "%.3f" % med["after"][0],
                     "%.3f" % (med["after"][0] / med["before"][0]),
                     "%.3f" % med["before"][1], "%.3f" % med["after"][1],
                     "%.3f" % (med["after"][1] / med["before"][1])])
    print("runs per cell: %d; load before: %s" % (opts.runs, " ".join(
        "%.2f" % x for x in os.getloadavg())))
    print_table(["case", "wall before s", "wall after s", "after/before",
                 "cpu before s", "cpu after s", "after/before"], rows, opts.markdown)


if __name__ == "__main__":
    main()
