#!/bin/sh
# Runs a Windows test program under Wine, with Wine reporting the Windows release <version>
# (winxp, vista, win7, win10) to it; the program learns which from VELMORA_WINE_VERSION.
#   run-under-wine.sh <version> <program.exe> [arguments]
set -eu
version=$1
shift
wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1 || {
  echo "run-under-wine: cannot set the Windows release to $version" >&2
  exit 1
}
VELMORA_WINE_VERSION=$version exec wine "$@"
