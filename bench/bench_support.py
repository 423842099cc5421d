# SPDX-License-Identifier: AGPL-3.0-or-later
"""What the benchmark scripts share: installing the tools and documents they measure with,
and timing one run of a tool."""

import os
import shutil
import subprocess
import sys
import tempfile


def install_missing(tool_packages, documents):
    """Installs, from Debian's packages, the package of every tool not on PATH and of every
    document (path -> package) not on disk."""
    missing = {pkg for tool, pkg in tool_packages.items() if not shutil.which(tool)}
    missing |= {pkg for path, pkg in documents.items() if not os.path.exists(path)}
    if not missing:
        return
    cmd = ["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + sorted(missing)
    if os.geteuid() != 0:
        cmd = ["sudo"] + cmd
    print("installing " + " ".join(sorted(missing)), file=sys.stderr)
    subprocess.run(cmd, check=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def print_table(head, rows, markdown):
    """Prints rows under head as a Markdown table, or as aligned plain columns."""
    if markdown:
        print("| " + " | ".join(head) + " |")
        print("|" + "---|" * len(head))
        for row in rows:
            print("| " + " | ".join(row) + " |")
    else:
        widths = [max(len(r[i]) for r in rows + [head]) for i in range(len(head))]
        for row in [head] + rows:
            print("  ".join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
    sys.stdout.flush()


def time_process(argv):
    """Runs argv under /usr/bin/time. Returns (wall s, processor s, peak KB, None), or
    (None, None, None, why) when it failed."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as tf:
        proc = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", tf.name] + argv,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        measured = tf.read().strip().splitlines()
    if proc.returncode != 0 or not measured:
        lines = proc.stderr.strip().splitlines()
        return None, None, None, "exit %d: %s" % (proc.returncode, lines[-1] if lines else "")
    elapsed, user, system, peak = measured[-1].split()
    return float(elapsed), float(user) + float(system), int(peak), None


def timed_run(argv, out_dir):
    """time_process with each "{out}" in argv standing for out_dir, made empty first."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    return time_process([a.replace("{out}", out_dir) for a in argv])
