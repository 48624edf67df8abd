#!/usr/bin/env bash
# Installs the Debian 12 packages that building and running need ("run", the default) or
# that building, running and testing need ("test"), and only those that are missing. Runs
# as root or through sudo.
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libpugixml-dev
    fonts-liberation
)
if [ "${1:-run}" = test ]; then
    packages+=(
        xvfb xauth x11-utils openbox libx11-dev libxtst-dev libxfixes-dev  # the X world
        clang libclang-rt-14-dev                                           # the fuzzers
        dpkg-dev desktop-file-utils appstream man-db                       # the package check
        edid-decode                                                        # show's oracle
        qemu-system-x86 busybox-static cpio                                # the VM stage
    )
fi

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
