#!/usr/bin/env bash
# Runs every libFuzzer target in BUILD for SECONDS each, two at a time, from
# its seed corpus; fails when any of them finds a crash.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=$(find "$build/fuzz" -maxdepth 1 -type f -name '*_fuzzer' -executable | sort)
[[ -n "$targets" ]] || { echo "no fuzz targets in $build/fuzz"; exit 1; }

run_one() {
  local target=$1 seconds=$2 root=$3
  local name corpus work
  name=$(basename "$target")
  corpus="$root/fuzz/corpus/${name%_fuzzer}"
  work=$(mktemp -d)
  [[ -d "$corpus" ]] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=0 "$work" >"$work.log" 2>&1; then
    echo "fuzz $name: ok"
  else
    echo "fuzz $name: FAILED"; tail -n 60 "$work.log"; rm -rf "$work"; return 1
  fi
  rm -rf "$work" "$work.log"
}
export -f run_one
printf '%s\n' $targets | xargs -P 2 -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$root"
