#!/usr/bin/env bash
# Installs what is missing, builds the agent and starts the daemon in a
# self-contained home under build/home/ (its conf/, logs and pid file live
# there). Stop it with Ctrl-C. An agent without a name announces itself by
# UDP; here the announcements stay on this machine (127.0.0.1) unless
# ZELAGENT_BROADCAST_ADDRESS is set (see the README).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEL_TESTS=OFF >/dev/null
ninja -C build zelagent
mkdir -p build/home
cp build/zelagent build/home/zelagent
export ZELAGENT_BROADCAST_ADDRESS="${ZELAGENT_BROADCAST_ADDRESS:-127.0.0.1}"
exec build/home/zelagent
