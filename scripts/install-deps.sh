#!/usr/bin/env bash
# Installs the Debian packages both builds and their tests need, when any is missing, and the
# Japanese locale under which Wine reports the Japanese ANSI code page. Safe to run again.
set -euo pipefail

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

# The Windows program is 32-bit: Wine runs it with wine32, from Debian's i386 multiarch.
added_i386=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (for wine32)"
  as_root dpkg --add-architecture i386
  added_i386=1
fi

packages=(
  cmake ninja-build g++ pkg-config clang libclang-rt-14-dev dpkg-dev unzip file time
  qt6-base-dev libgtest-dev googletest
  g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 wine wine32:i386 wine64
  xvfb xdotool x11-utils openbox imagemagick
  fonts-ipafont-gothic locales
  lintian man-db groff-base mandoc
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
elif ((added_i386)); then
  as_root apt-get update -q
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "Generating the ja_JP.UTF-8 locale"
  as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
