#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, test and run the project. Run as root
# (or with sudo available). Packages already present are left alone.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang-format googletest libgtest-dev
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
    wine wine64 fonts-wine
    xvfb xdotool imagemagick
    coreutils util-linux
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
