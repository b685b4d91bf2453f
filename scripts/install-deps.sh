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
  g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
  xvfb xdotool x11-utils openbox imagemagick python3-fusepy fuse3
  fonts-ipafont-gothic locales
  lintian man-db groff-base mandoc
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ $status == "install ok installed" ]] || missing+=("$package")
done

# A package mirror in the middle of a sync serves an index that does not match its release file;
# apt-get then fails the whole update although every other index came in. The lists that did
# arrive are enough to install from, so the update's failure is said and set-up goes on.
update_package_lists() {
  if ! as_root apt-get update -q; then
    echo "install-deps: apt-get update failed (a package mirror may be mid-sync); going on with the package lists that did arrive" >&2
  fi
}

# With one suite's index missing (often the security suite's i386 one), the amd64 libraries'
# candidates come from that suite and their i386 twins from the release's own suite, at other
# versions, which multiarch refuses. Taking the release's own suite first gives matching pairs.
install_packages() {
  local apt=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends)
  as_root "${apt[@]}" "$@" && return 0
  local codename
  codename=$(. "${VELMORA_OS_RELEASE:-/etc/os-release}" && echo "${VERSION_CODENAME:-}")
  if [[ -n $codename ]]; then
    echo "install-deps: installing failed; trying once more, preferring the release's own suite ($codename)" >&2
    as_root "${apt[@]}" -t "$codename" "$@" && return 0
  fi
  echo "install-deps: could not install the packages the builds need (${*}); see apt-get's messages above" >&2
  return 1
}

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  update_package_lists
  install_packages "${missing[@]}" || exit 1
elif ((added_i386)); then
  update_package_lists
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP\.utf-\?8$'; then
  echo "Generating the ja_JP.UTF-8 locale"
  as_root sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
