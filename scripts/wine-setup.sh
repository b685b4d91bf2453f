# Sourced by scripts that run the Windows tests: decides which Windows build Wine can run here,
# and in which prefixes.
#   VELMORA_WINDOWS_PRESET  the CMake preset whose tests run under Wine
#   VELMORA_WINE_ARCHES     the prefixes they run in (win64: WoW64 or 64-bit; win32: 32-bit)
# The product is 32-bit, and where this machine runs 32-bit code it is what is tested, in a
# 64-bit (WoW64) and a 32-bit prefix. Some virtual machines run 64-bit code only (the kernel
# refuses every 32-bit program, Wine's 32-bit loader included): there the same sources are built
# 64-bit and tested in a 64-bit prefix, with `wine` taken to Wine's 64-bit loader, and what only
# a 32-bit program shows (the 32-bit registry view) is not tried.

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  VELMORA_WINDOWS_PRESET=windows
  VELMORA_WINE_ARCHES="win64 win32"
else
  echo "NOTE: this machine does not run 32-bit programs: the Windows tests run the 64-bit build of" >&2
  echo "      the same sources in a 64-bit Wine prefix; the 32-bit product is built and checked only" >&2
  VELMORA_WINDOWS_PRESET=windows-x64
  VELMORA_WINE_ARCHES=win64
  # The wine and wineboot commands start Wine's 32-bit loader whenever it is installed.
  velmora_wine_shim=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-64-bit-only
  mkdir -p "$velmora_wine_shim"
  for command in wine wine-stable; do
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' \
      >"$velmora_wine_shim/$command"
    chmod +x "$velmora_wine_shim/$command"
  done
  export PATH="$velmora_wine_shim:$PATH"
fi
export VELMORA_WINDOWS_PRESET VELMORA_WINE_ARCHES
