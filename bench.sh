#!/usr/bin/env bash
# Builds the optimised benchmarks and runs each one. Every benchmark prints
# its figure beside a reference measured in the same run.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# Daemons started from here announce themselves on this machine only.
export ZELAGENT_BROADCAST_ADDRESS=127.0.0.1
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_BENCH=ON -DZEL_TESTS=OFF >/dev/null
ninja -C build-bench
for b in build-bench/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
