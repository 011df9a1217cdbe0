#!/usr/bin/env bash
# Builds the optimised benchmarks and runs each one. Every benchmark prints
# its figures beside a reference measured in the same run; the run ends with
# the summary table, one line per figure:
#   figure NAME VALUE UNIT ref REFERENCE ratio VALUE/REFERENCE spread ...
# Usage: ./bench.sh [--quick]   (--quick: smaller inputs, a couple of minutes)
set -euo pipefail
cd "$(dirname "$0")"
if [ "${1:-}" = "--quick" ]; then export ZEL_BENCH_QUICK=1; else export ZEL_BENCH_QUICK=0; fi
./scripts/install-deps.sh
# Daemons started from here announce themselves on this machine only.
export ZELAGENT_BROADCAST_ADDRESS=127.0.0.1
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BENCH=ON -DZEL_TESTS=OFF >/dev/null
ninja -C build-bench
log=$(mktemp)
trap 'rm -f "$log"' EXIT
start=$(date +%s)
for b in build-bench/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" | tee -a "$log"
done
echo "== summary ($(( $(date +%s) - start )) s, load average $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores)"
grep '^figure ' "$log"
