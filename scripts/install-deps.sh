#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the program need.
# Only missing packages are installed; run as root or with sudo available.
set -euo pipefail

groups="${*:-build}"
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libqpdf-dev qpdf poppler-utils
  libzip-dev libdeflate-dev zipcmp zip unzip libpugixml-dev qt6-base-dev qt6-base-dev-tools libgl-dev
  clang libclang-rt-14-dev xvfb xauth)
for group in $groups; do
  case "$group" in
    build) ;;
    interop) packages+=(libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui python3-olefile) ;;
    windows) packages+=(mingw-w64 wine64 wine) ;;
    screenshot) packages+=(xdotool imagemagick) ;;
    casefold) packages+=(unicode-data) ;;  # only to regenerate services/CaseFold.cpp
    # Network shares for tests/network (an SMB and an SSH server on 127.0.0.1,
    # mounted through FUSE clients) and the slow file system of the benchmarks.
    network) packages+=(samba smbnetfs openssh-server openssh-client sshfs fuse3 libfuse3-dev) ;;
    *) echo "install-deps: unknown group '$group'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
