#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, checks the Debian package and runs every test.
# With --tsan: the same tests built with ThreadSanitizer in build-tsan/
# (no package step).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# Daemons started from here announce themselves on this machine only.
export ZELAGENT_BROADCAST_ADDRESS=127.0.0.1
if [ "${1:-}" = "--tsan" ]; then
  cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEL_TSAN=ON >/dev/null
  ninja -C build-tsan
  # Reasons for every entry are in the file.
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp"
  ctest --test-dir build-tsan --output-on-failure -j "$(nproc)" --timeout 600
  exit 0
fi
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZEL_SANITIZE=ON >/dev/null
ninja -C build-asan
# The Debian package, built in build-package/ (kept between runs), listed,
# unpacked into a temporary folder and started there; never installed.
start=$SECONDS
scripts/test-package.sh
echo "package step: $((SECONDS - start)) s"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" --timeout 300
