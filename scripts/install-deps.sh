#!/usr/bin/env bash
# Installs the Debian 12 packages Quarn needs to build, run and test; only what is missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libfox-1.6-dev libudev-dev libssl-dev
  googletest libgtest-dev libgmock-dev
  umockdev libumockdev-dev xvfb xdotool x11-apps imagemagick xdg-utils
  desktop-file-utils x11-utils man-db file
  clang libclang-rt-14-dev libbenchmark-dev valgrind
  nlohmann-json3-dev openssl jq
  chromium poppler-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
echo "Installing: ${missing[*]}"
# Another installation may hold apt's lock for a while.
wait_lock=(-o DPkg::Lock::Timeout=600)
"${sudo_cmd[@]}" apt-get "${wait_lock[@]}" update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get "${wait_lock[@]}" install -y -q --no-install-recommends "${missing[@]}"
