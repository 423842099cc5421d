#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Time to list 200 PDF files of 20 pages each in the main window (each file opened, counted and
# closed by the viewer, one row per file), best of RUNS runs.
# Usage: bench/list_files.sh [build-dir] [files] [pages]
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-$source_dir/build}" && pwd)
files=${2:-200}
pages=${3:-20}
runs=${RUNS:-3}

cmake --build "$build_dir" --target ui files viewer controls platform core rastool -j "${JOBS:-2}" >/dev/null
bench_build="$build_dir/bench-list-files"
cmake -S "$source_dir/bench/list_files" -B "$bench_build" -DCMAKE_BUILD_TYPE=Release \
  -DPAGEMINT_BUILD_DIR="$build_dir" -DPAGEMINT_SOURCE_DIR="$source_dir" >/dev/null
cmake --build "$bench_build" -j "${JOBS:-2}" >/dev/null
# The window finds its document helper beside its executable.
ln -sf "$build_dir/bin/rastool" "$bench_build/rastool"

for ((run = 1; run <= runs; run++)); do
  QT_QPA_PLATFORM=offscreen "$bench_build/list_files_bench" "$files" "$pages"
done
