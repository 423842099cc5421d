#!/usr/bin/env bash
# SPDX-License-Identifier: AGPL-3.0-or-later
# Builds the fuzz targets with clang in their own build folder, writes the seed corpora and runs
# each target for a bounded time. Findings (crash-*, leak-*, timeout-*, oom-* inputs) land in
# <build>/findings/<target>/; the exit status is non-zero when any target found something.
#   FUZZ_SECONDS  seconds per target (default 60)
#   FUZZ_BUILD    build folder (default build-fuzz beside this folder)
#   FUZZ_JOBS     parallel compile jobs (default 2)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${FUZZ_BUILD:-$here/../build-fuzz}"
seconds="${FUZZ_SECONDS:-60}"

cmake -S "$here" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}"

seeds="$build/seeds"
"$build/make_seeds" "$seeds"

# The rows fuzzer starts from nothing: any input describes a page.
mkdir -p "$seeds/rows"
declare -A seed_of=([render_fuzzer]=render [option_parser_fuzzer]=options [deflate_rows_fuzzer]=rows)
status=0
for target in render_fuzzer option_parser_fuzzer deflate_rows_fuzzer; do
  if [ ! -x "$build/$target" ]; then
    echo "== $target: not built"
    status=1
    continue
  fi
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  mkdir -p "$corpus" "$findings"
  echo "== $target: ${seconds}s"
  # A slow or memory-hungry single input is a finding too: -timeout and -rss_limit_mb.
  if ! "$build/$target" "$corpus" "$seeds/${seed_of[$target]}" \
      -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" >"$build/$target.log" 2>&1; then
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ +DONE)' \
    "$build/$target.log" || true
  if ls "$findings" | grep -q .; then
    echo "   findings in $findings:"
    ls "$findings" | sed 's/^/     /'
    grep -m1 -E 'ERROR|SUMMARY' "$build/$target.log" || true
    status=1
  fi
done
exit "$status"
