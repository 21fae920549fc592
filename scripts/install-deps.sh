#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs the Debian packages the build, the tests and the demo need.
# Idempotent: when every package is present it does not touch apt at all.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libxml2-dev libcurl4-openssl-dev qt6-base-dev qt6-translations-l10n libcpp-httplib-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev zlib1g-dev libbrotli-dev
  python3-zeep tinyproxy curl openssl
  time  # peak memory of the end-to-end download benchmark
  lintian  # the Debian package's check
  clang-format  # make format-check, which CI runs always
)
# `make fuzz` only: Debian's clang 14 cannot compile our ranges code with libstdc++ 12, so the
# fuzzers are built with clang 16 and its runtime (libFuzzer and the sanitizers).
if [ "${1:-}" = "--fuzz" ]; then
  packages=(clang-16 libclang-rt-16-dev)
fi
# `make tidy` only: clang-tidy 16, whose parser reads the ranges of libstdc++ 12.
if [ "${1:-}" = "--tidy" ]; then
  packages=(clang-tidy-16)
fi
# `make docs` only: the API reference.
if [ "${1:-}" = "--docs" ]; then
  packages=(doxygen)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
