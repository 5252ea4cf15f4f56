#!/usr/bin/env bash
# Installs every Debian 12 package that building, running and testing need,
# and only those that are missing. The one place that lists dependencies.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  # messages
  libprotobuf-dev protobuf-compiler libutf8proc-dev
  # platform layer and application
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev libx11-dev libxtst-dev librsvg2-bin
  fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth dbus-daemon tint2 libdbus-1-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
