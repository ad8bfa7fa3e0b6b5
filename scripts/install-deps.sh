#!/usr/bin/env bash
# Installs the Debian packages the gateway, its tests, fuzzers and benchmarks need.
# As root it runs apt-get; otherwise it prints the command to run and fails.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang pkg-config
    qt6-base-dev qt6-websockets-dev libqt6sql6-sqlite
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools linguist-qt6
    libgl-dev libmodbus-dev xvfb xauth x11-utils tzdata
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

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}"
