#!/usr/bin/env bash
# Installs what building and testing Quillory needs on Debian 12, skipping apt-get entirely
# when everything is there already. With --fuzz: also clang, for the libFuzzer build. With
# --windows: also the mingw-w64 cross compiler, the host's Qt tools (moc, rcc), Wine and NSIS.
set -euo pipefail

packages=(
    build-essential cmake ninja-build
    qt6-base-dev qt6-svg-dev libmodest-dev libicu-dev
    libgtest-dev libgmock-dev
    libxcb1-dev pkg-config
    xvfb xauth fonts-liberation
    desktop-file-utils appstream file
    parallel findutils
)
if [ "${1:-}" = "--fuzz" ]; then
    packages+=(clang)
elif [ "${1:-}" = "--windows" ]; then
    packages+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-tools qt6-base-dev-tools
               python3 xz-utils wine64 wine nsis)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
