#!/usr/bin/env bash
# Runs every benchmark program in BUILD/bench (default: build) and prints its
# results. Extra arguments go to each program (e.g. --benchmark_filter=...).
set -euo pipefail
build=${1:-build}
shift || true
programs=$(find "$build/bench" -maxdepth 1 -type f -name '*_bench' -executable | sort)
[[ -n "$programs" ]] || { echo "no benchmark programs in $build/bench"; exit 1; }
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
for program in $programs; do
  echo "== $(basename "$program")"
  "$program" "$@"
done
