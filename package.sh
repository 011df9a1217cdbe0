#!/usr/bin/env bash
# Builds the Debian package build-package/zelagent_<version>_<arch>.deb:
# an optimised build in build-package/ (kept, so the next run only rebuilds
# what changed), the man pages checked, then CPack's DEB generator. The
# package is only built here, never installed.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
scripts/check-man.sh || [ $? -eq 77 ]
cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DZEL_TESTS=OFF >/dev/null
ninja -C build-package -j "$(nproc)"
rm -f build-package/zelagent_*.deb
(cd build-package && cpack -G DEB >/dev/null)
ls build-package/zelagent_*.deb
