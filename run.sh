#!/usr/bin/env bash
# Installs what is missing, builds the agent and starts the daemon in a
# self-contained home under build/home/ (its conf/, logs and pid file live
# there). Stop it with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_TESTS=OFF >/dev/null
ninja -C build zelagent
mkdir -p build/home
cp build/zelagent build/home/zelagent
exec build/home/zelagent
