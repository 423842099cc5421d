# SPDX-License-Identifier: AGPL-3.0-or-later
"""What the benchmark scripts share: installing the tools and documents they measure with."""

import os
import shutil
import subprocess
import sys


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
