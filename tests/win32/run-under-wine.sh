#!/bin/sh
# Runs a Windows test program under Wine, with Wine reporting the Windows release <version>
# (winxp, vista, win7, win10) and the display's dots per inch (VELMORA_WINE_DPI, 96 unless set)
# to it; the program learns which release from VELMORA_WINE_VERSION.
#   run-under-wine.sh <version> <program.exe> [arguments]
set -eu
version=$1
shift
dpi=${VELMORA_WINE_DPI:-96}
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1 &&
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || {
  echo "run-under-wine: cannot set the Windows release $version at $dpi dots per inch" >&2
  exit 1
}
VELMORA_WINE_VERSION=$version exec wine "$@"
