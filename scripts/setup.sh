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
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev libx11-dev libxtst-dev libxcb1-dev libxcb-xtest0-dev librsvg2-bin
  fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth dbus-daemon tint2 libdbus-1-dev
  # the launchers that read the autostart entry: systemd's generator, GLib's gio
  systemd libglib2.0-bin
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

[ ${#missing[@]} -eq 0 ] && exit 0

# sudo's env_reset would drop an exported variable: pass it on the command line.
as_root=(env DEBIAN_FRONTEND=noninteractive)
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    {
      echo "Missing packages: ${missing[*]}"
      echo "Installing them needs root: run this script as root or install sudo, or have root run:"
      echo "  apt-get install --no-install-recommends ${missing[*]}"
    } >&2
    exit 1
  fi
  as_root=(sudo DEBIAN_FRONTEND=noninteractive)
fi
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
