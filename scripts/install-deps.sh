#!/usr/bin/env bash
# Installs the Debian packages the build and the test suite need.
# Does nothing when they are all present; uses sudo when not run as root.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config make
  nlohmann-json3-dev liblua5.4-dev libspng-dev
  libx11-dev libxtst-dev libxi-dev libxrandr-dev libxext-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb x11-xserver-utils
  qt6-base-dev qt6-base-dev-tools fonts-noto-cjk xdotool x11-utils gcovr
)
if [[ "${1:-}" == "--bench" ]]; then
  # OpenCV is only the yardstick of the vision benchmarks.
  packages+=(libopencv-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then sudo=(sudo); fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
