#!/usr/bin/env bash
# Builds both packages and checks them as a user would get them: the .deb passed by lintian,
# installed with apt-get (its dependencies with it), its manual pages found and rendered cleanly,
# and the installed program started on the demo's stand-ins, Execute pressed; the Windows zip
# holding the one .exe with its version resource.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "FAIL: $*" >&2; exit 1; }
as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
renders_cleanly() {  # renders_cleanly <locale> <man arguments>: man writes no warning
  local said
  said=$(LC_ALL=$1 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 "${@:2}" 2>&1 >/dev/null) ||
    fail "man cannot render ${*:2}"
  [[ -z $said ]] || fail "man warns about ${*:2}:"$'\n'"$said"
}

cmake --preset linux >/dev/null
cmake --build --preset linux --target package >/dev/null
deb=$(ls build/linux/velmora-cdcopy_*_amd64.deb)
# Debian's own checks: an error or a warning fails, informational tags are only shown.
lintian_options=(--tag-display-limit 0 --display-info --fail-on error,warning)
[[ $(id -u) -ne 0 ]] || lintian_options+=(--allow-root)
lintian "${lintian_options[@]}" "./$deb" || fail "lintian finds errors or warnings in $deb"
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  --reinstall "./$deb" >/dev/null
[[ -x /usr/bin/velmora-cdcopy ]] || fail "the package installed no program"
grep -q '^Name\[ja\]=Velmora ＣＤコピー$' /usr/share/applications/velmora-cdcopy.desktop ||
  fail "the desktop entry has no Japanese name"
# The manual page, as man finds it for an English and a Japanese reader, and its sources: each
# renders without a warning, and mandoc finds nothing worse than matters of style.
[[ $(man -w velmora-cdcopy) == /usr/share/man/man1/velmora-cdcopy.1.gz ]] ||
  fail "man finds no English manual page"
[[ $(LC_ALL=ja_JP.UTF-8 man -w velmora-cdcopy) == /usr/share/man/ja/man1/velmora-cdcopy.1.gz ]] ||
  fail "man finds no Japanese manual page"
for page in /usr/share/man/man1/velmora-cdcopy.1.gz /usr/share/man/ja/man1/velmora-cdcopy.1.gz \
  packaging/man/velmora-cdcopy.1 packaging/man/ja/velmora-cdcopy.1; do
  renders_cleanly C.UTF-8 -l "$page"
done
renders_cleanly ja_JP.UTF-8 velmora-cdcopy
for page in packaging/man/velmora-cdcopy.1 packaging/man/ja/velmora-cdcopy.1; do
  mandoc -Tlint -W warning "$page" || fail "mandoc finds problems in $page"
done
scripts/with-xvfb.sh tests/e2e/demo_window_test.sh /usr/bin/velmora-cdcopy scripts/make-demo-cd.sh

cmake --preset windows >/dev/null
cmake --build --preset windows --target package >/dev/null
zip=$(ls build/windows/velmora-cdcopy-*-windows-x86.zip)
[[ $(unzip -Z1 "$zip" | sort | tr '\n' ' ') == "readme.txt velmora-cdcopy.exe " ]] ||
  fail "the zip holds more or less than the .exe and its readme"
unzip -p "$zip" velmora-cdcopy.exe | strings -el | grep -qx 'Velmora CD copy utility' ||
  fail "the .exe has no version resource naming the product"
unzip -p "$zip" readme.txt | head -c 3 | cmp -s - <(printf '\xEF\xBB\xBF') ||
  fail "the readme has no UTF-8 byte-order mark"
unzip -p "$zip" readme.txt | iconv -f UTF-8 -t UTF-8 >/dev/null || fail "the readme is not UTF-8"
[[ $(unzip -p "$zip" readme.txt | grep -vc $'\r$') == 0 ]] || fail "the readme has lines without CR LF"
exe=$(mktemp --suffix=.exe)
unzip -p "$zip" velmora-cdcopy.exe >"$exe"
scripts/check-windows-imports.sh "$exe" || fail "the packaged .exe would not load on Windows XP"
rm -f "$exe"
echo "packages: the .deb and the zip checked"
