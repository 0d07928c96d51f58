#!/usr/bin/env bash
# Runs every libFuzzer target in BUILD for SECONDS each, two at a time, from
# its seed corpus (which holds the crashes found so far, so they are replayed
# first); fails when any of them crashes or reports a sanitizer finding.
set -euo pipefail
build=${1:-build-fuzz}
seconds=${2:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=$(find "$build/fuzz" -maxdepth 1 -type f -name '*_fuzzer' -executable | sort)
[[ -n "$targets" ]] || { echo "no fuzz targets in $build/fuzz"; exit 1; }

# The build makes every report fatal already; these options say so again for
# runtimes that read them, and keep the stack of what is found.
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1

run_one() {
  local target=$1 seconds=$2 root=$3
  local name corpus work
  name=$(basename "$target")
  corpus="$root/fuzz/corpus/${name%_fuzzer}"
  work=$(mktemp -d)
  [[ -d "$corpus" ]] && cp -r "$corpus"/. "$work"/ 2>/dev/null || true
  local status=0
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 "$work" >"$work.log" 2>&1 || status=$?
  # A report that somehow did not halt still fails the run.
  if [[ $status -eq 0 ]] && grep -qE 'runtime error:|ERROR: (Address|Undefined|Leak)Sanitizer' "$work.log"; then
    status=1
  fi
  if [[ $status -eq 0 ]]; then
    echo "fuzz $name: ok"
  else
    echo "fuzz $name: FAILED"; tail -n 60 "$work.log"; rm -rf "$work" "$work.log"; return 1
  fi
  rm -rf "$work" "$work.log"
}
export -f run_one
printf '%s\n' $targets | xargs -P 2 -I{} bash -c 'run_one "$@"' _ {} "$seconds" "$root"
