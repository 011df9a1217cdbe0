#!/usr/bin/env bash
# Installs the Debian packages the build needs, when some are missing and we
# may install them (root). Others get the list to install by hand.
set -euo pipefail
packages=(g++ cmake ninja-build libgtest-dev zlib1g-dev libgmp-dev patch groff-base dpkg-dev python3)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -eq 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
else
  echo "Missing packages: ${missing[*]} (run: sudo apt-get install ${missing[*]})" >&2
  exit 1
fi
