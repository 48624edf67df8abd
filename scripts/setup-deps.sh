#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing need,
# and only those that are missing. Runs as root or through sudo.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libpugixml-dev
    fonts-liberation
    xvfb xauth x11-utils openbox libx11-dev libxtst-dev libxfixes-dev
    clang libclang-rt-14-dev
    dpkg-dev desktop-file-utils
    qemu-system-x86 busybox-static cpio
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    as_root=(sudo)
fi

echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
