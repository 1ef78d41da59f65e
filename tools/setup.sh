#!/usr/bin/env bash
# Installs what the builds and tests need and is missing on this machine.
# Debian packages only; safe to run again.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
for pkg in cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev \
           gcc-arm-none-eabi libnewlib-arm-none-eabi picolibc-arm-none-eabi \
           lrzsz mtools dosfstools python3; do
    have_pkg "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
