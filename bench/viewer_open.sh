#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Times the document viewer on long documents (open at the first page, jump to the end and to
# the middle, page down, and the count an add costs), best of RUNS runs, one process per file.
# Give a second build tree (for instance one of the main branch) to measure both side by side:
# each is measured with its own sources, by the same program.
# Usage: bench/viewer_open.sh [build-dir] [other-build-dir] -- file.pdf...
# Defaults: Debian's R reference manual and the PGF manual. Their packages are large and only
# this benchmark reads them, so they are not among scripts/install-deps.sh's:
#   apt-get install r-doc-pdf texlive-pictures-doc
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
builds=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  builds+=("$(cd "$1" && pwd)")
  shift
done
[ $# -gt 0 ] && shift
[ ${#builds[@]} -gt 0 ] || builds=("$source_dir/build")
files=("$@")
if [ ${#files[@]} -eq 0 ]; then
  files=(/usr/share/R/doc/manual/fullrefman.pdf)
  files+=(/usr/share/doc/texlive-doc/generic/pgf/pgfmanual.pdf)
fi
for file in "${files[@]}"; do
  if [ ! -r "$file" ]; then
    echo "$file: not found (see the packages at the top of $0)" >&2
    exit 1
  fi
done
runs=${RUNS:-3}

for build in "${builds[@]}"; do
  echo "== $build"
  cmake --build "$build" --target viewer rastool -j "${JOBS:-2}" >/dev/null
  bench_build="$build/bench-viewer-open"
  cmake -S "$source_dir/bench/viewer_open" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release \
    -DPAGEMINT_BUILD_DIR="$build" \
    -DPAGEMINT_SOURCE_DIR="$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")" \
    >/dev/null
  cmake --build "$bench_build" -j "${JOBS:-2}" >/dev/null
  # The window finds its document helper beside its executable.
  ln -sf "$build/bin/rastool" "$bench_build/rastool"
  for file in "${files[@]}"; do
    # The offscreen platform warns that it has no window manager to pass size hints to.
    QT_QPA_PLATFORM=offscreen "$bench_build/viewer_open_bench" "$file" "$runs" 2> >(grep -v propagateSizeHints >&2)
  done
done
