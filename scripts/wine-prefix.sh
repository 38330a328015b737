#!/usr/bin/env bash
# Creates the Wine prefix once: win32, Wine's own fonts copied in (this Wine
# does not find them otherwise), Japanese font mapping, virtual desktop, no
# crash dialog.
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
stamp="$WINEPREFIX/.tarnwick-ready"
[ -f "$stamp" ] && exit 0
mkdir -p "$(dirname "$WINEPREFIX")"
wineboot -i >/dev/null 2>&1
wineserver -w
cp /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
reg="$WINEPREFIX/tarnwick.reg"
{ printf '\xff\xfe'; sed 's/$/\r/' "$TARNWICK_ROOT/scripts/wine/prefix.reg.utf8" | iconv -f UTF-8 -t UTF-16LE; } > "$reg"
wine regedit /S "$reg" >/dev/null 2>&1
wineserver -w
touch "$stamp"
