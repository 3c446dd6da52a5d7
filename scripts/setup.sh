#!/usr/bin/env bash
# Installs, when missing, the Debian packages that the build, the tests and the demo need.
# Idempotent: with everything present it changes nothing and needs no network.
set -euo pipefail
packages=(cmake ninja-build g++ make libgtest-dev googletest libbenchmark-dev libssl-dev
          mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64
          wine64 clang libclang-rt-14-dev util-linux)
missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
